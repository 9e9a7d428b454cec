// The three methods of libjpeg-turbo's memory manager that make and reach its coefficient arrays,
// over the block cache.
#include "imglib/coefficients.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
// After jpeglib.h: the numbers of its messages depend on the library version jpeglib.h gives.
#include <jerror.h>

namespace imglib {

// Every row of blocks of one component's coefficients.
struct CoefficientArray {
    JDIMENSION blocksPerRow = 0;
    JDIMENSION rowCount = 0;
    JDIMENSION mostRowsAtOnce = 0;
    bool cleared = false;          // rows read or written first must be zero
    JDIMENSION firstUnsetRow = 0;  // rows from here on were never written
    budget::Buffer blocks;         // empty until realised
    std::vector<JBLOCKROW> rows;
};

// The methods, which libjpeg-turbo calls with nothing but its decoder.
struct CoefficientAccess {
    static CoefficientBuffers &of(j_common_ptr cinfo) { return *static_cast<CoefficientBuffers *>(cinfo->client_data); }

    // A new array, not yet given memory; null when there is no memory for it.
    static CoefficientArray *add(j_common_ptr cinfo, bool cleared, JDIMENSION blocksPerRow, JDIMENSION rows,
                                 JDIMENSION mostRowsAtOnce) noexcept
    {
        try {
            auto array = std::make_unique<CoefficientArray>();
            array->blocksPerRow = blocksPerRow;
            array->rowCount = rows;
            array->mostRowsAtOnce = mostRowsAtOnce;
            array->cleared = cleared;
            of(cinfo).arrays_.push_back(std::move(array));
            return of(cinfo).arrays_.back().get();
        } catch (...) {
            return nullptr;
        }
    }

    // libjpeg-turbo's own method, for the other arrays it may make.
    static void realiseOwn(j_common_ptr cinfo) { of(cinfo).realizeOwn_(cinfo); }

    // Gives memory to every array that has none yet; false when there is not enough.
    static bool realise(j_common_ptr cinfo) noexcept
    {
        try {
            for (const auto &array : of(cinfo).arrays_) {
                if (array->blocks)
                    continue;
                const std::size_t rowBytes = std::size_t{array->blocksPerRow} * sizeof(JBLOCK);
                array->blocks = budget::Buffer(rowBytes * array->rowCount);
                array->rows.resize(array->rowCount);
                for (JDIMENSION r = 0; r < array->rowCount; ++r)
                    array->rows[r] = reinterpret_cast<JBLOCKROW>(array->blocks.data() + rowBytes * r);
            }
            return true;
        } catch (...) {
            return false;
        }
    }

    // Rows [start, start + count) of `array`, set for writing when `writable`; null for a reach
    // libjpeg-turbo itself refuses: outside the array, wider than it asked for, or ahead of the
    // rows written, to write, or to read in an array that is not cleared.
    static JBLOCKARRAY reach(CoefficientArray &array, JDIMENSION start, JDIMENSION count, bool writable) noexcept
    {
        const JDIMENSION end = start + count;
        if (!array.blocks || end < start || end > array.rowCount || count > array.mostRowsAtOnce)
            return nullptr;
        if (array.firstUnsetRow < end) {
            if (array.firstUnsetRow < start && writable)
                return nullptr;  // a writer that skipped rows
            if (!array.cleared && !writable)
                return nullptr;  // rows read before they exist
            const JDIMENSION unset = std::max(array.firstUnsetRow, start);
            if (array.cleared)
                std::memset(array.rows[unset], 0, std::size_t{end - unset} * array.blocksPerRow * sizeof(JBLOCK));
            if (writable)
                array.firstUnsetRow = end;
        }
        return array.rows.data() + start;
    }
};

namespace {

extern "C" {

jvirt_barray_ptr requestArray(j_common_ptr cinfo, int, boolean preZero, JDIMENSION blocksPerRow, JDIMENSION rows,
                              JDIMENSION mostRowsAtOnce)
{
    CoefficientArray *array = CoefficientAccess::add(cinfo, preZero != FALSE, blocksPerRow, rows, mostRowsAtOnce);
    if (array == nullptr)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    return reinterpret_cast<jvirt_barray_ptr>(array);
}

void realiseArrays(j_common_ptr cinfo)
{
    if (!CoefficientAccess::realise(cinfo))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    CoefficientAccess::realiseOwn(cinfo);
}

JBLOCKARRAY accessArray(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION start, JDIMENSION count,
                        boolean writable)
{
    JBLOCKARRAY rows =
        CoefficientAccess::reach(*reinterpret_cast<CoefficientArray *>(array), start, count, writable != FALSE);
    if (rows == nullptr)
        ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
    return rows;
}

}  // extern "C"

}  // namespace

CoefficientBuffers::CoefficientBuffers() = default;
CoefficientBuffers::~CoefficientBuffers() = default;

void CoefficientBuffers::serve(jpeg_decompress_struct &cinfo)
{
    cinfo.client_data = this;
    realizeOwn_ = cinfo.mem->realize_virt_arrays;
    cinfo.mem->request_virt_barray = requestArray;
    cinfo.mem->realize_virt_arrays = realiseArrays;
    cinfo.mem->access_virt_barray = accessArray;
}

}  // namespace imglib
