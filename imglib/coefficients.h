// libjpeg-turbo's whole-image coefficient buffers, kept in the library's own blocks.
#pragma once

#include "budget/buffer.h"

#include <memory>
#include <vector>

struct jpeg_common_struct;
struct jpeg_decompress_struct;

namespace imglib {

struct CoefficientArray;

// A progressive or multi-scan file is decoded through a buffer of every DCT coefficient of the
// image, twice the size of its pixels for a 4:4:4 photo. libjpeg-turbo takes it from the heap,
// where blocks that large are mapped afresh for every photo and every page of them faulted in
// and cleared by the kernel; served from the block cache (budget/buffer.h), the blocks are those the photos before it
// used, and the memory a folder run keeps is one set of blocks for pixels and coefficients both.
// Rows are cleared before first use, as libjpeg-turbo clears its own.
class CoefficientBuffers {
public:
    CoefficientBuffers();
    ~CoefficientBuffers();
    CoefficientBuffers(const CoefficientBuffers &) = delete;
    CoefficientBuffers &operator=(const CoefficientBuffers &) = delete;

    // Makes the decoder take its coefficient buffers from here: after jpeg_create_decompress() and
    // before jpeg_start_decompress(). Takes the decoder's client_data. The buffers must outlive
    // the decoder.
    void serve(jpeg_decompress_struct &cinfo);

private:
    friend struct CoefficientAccess;
    std::vector<std::unique_ptr<CoefficientArray>> arrays_;
    void (*realizeOwn_)(jpeg_common_struct *) = nullptr;  // libjpeg-turbo's, for its other arrays
};

}  // namespace imglib
