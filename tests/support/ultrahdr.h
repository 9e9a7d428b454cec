// Ultra HDR JPEGs for the tests, built from the format's public description (Ultra HDR Image
// Format v1.1, with ISO 21496-1 and CIPA DC-007 MPF): a primary JPEG with flat patches, then a
// gain map JPEG whose patches line up with the primary's, declared in XMP (hdrgm: and a GContainer
// directory) and/or in ISO 21496-1 form, and an MPF index that points at both.
#pragma once

#include "tests/support/testimages.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testimages {

// The gain map's metadata, as XMP writes it (log2 for min, max and the capacities). Three values
// per channel when multichannel; otherwise the first of each is used.
struct GainMapValues {
    std::array<double, 3> gainMapMin{0, 0, 0};
    std::array<double, 3> gainMapMax{2, 2, 2};
    std::array<double, 3> gamma{1, 1, 1};
    std::array<double, 3> offsetSdr{1.0 / 64, 1.0 / 64, 1.0 / 64};
    std::array<double, 3> offsetHdr{1.0 / 64, 1.0 / 64, 1.0 / 64};
    double hdrCapacityMin = 0;
    double hdrCapacityMax = 2;
    bool multichannel = false;
    bool useBaseColourSpace = true;  // ISO only: XMP always means the base's colour space
};

// One patch of a grid laid over the photo: its colour in the primary, and its codes in the map
// (one per channel; a grey map uses the first).
struct HdrPatch {
    std::array<std::uint8_t, 3> rgb{128, 128, 128};
    std::array<std::uint8_t, 3> code{200, 200, 200};
};

struct UltraHdrOptions {
    int width = 64;  // the primary's stored size (before its orientation)
    int height = 48;
    int mapWidth = 16;
    int mapHeight = 12;
    int mapChannels = 1;  // 1 (grey) or 3
    // Patches fill a grid of `columns` columns, row by row, on both images alike.
    int columns = 2;
    std::vector<HdrPatch> patches{{{200, 60, 40}, {255, 255, 255}},
                                  {{40, 160, 60}, {128, 128, 128}},
                                  {{60, 80, 200}, {0, 0, 0}},
                                  {{230, 230, 230}, {64, 64, 64}}};
    int orientation = 0;  // EXIF orientation of the primary; 0 writes no EXIF
    bool xmpForm = true;
    bool isoForm = false;
    bool xmpElements = false;  // hdrgm: values as elements rather than attributes (single values only)
    GainMapValues values;
    std::vector<std::uint8_t> primaryIcc;
    std::vector<std::uint8_t> mapIcc;
    int quality = 95;
    // Damage, for tests that want it: the map's XMP packet or ISO payload written instead of the
    // ones made from `values`, and a number added to the MPF's offset of the map.
    std::optional<std::string> mapXmpPacket;
    std::optional<std::vector<std::uint8_t>> mapIsoPayload;
    std::int64_t mapOffsetShift = 0;
};

struct UltraHdr {
    std::vector<std::uint8_t> file;  // the primary, then the map
    std::size_t primaryLength = 0;   // where the map starts
    std::vector<std::uint8_t> map;   // the map JPEG alone
};

UltraHdr ultraHdrJpeg(const UltraHdrOptions &options = {});

// The segments' payloads, identifier included, for tests that look at them or build their own.
inline constexpr char kIsoGainMapId[] = "urn:iso:std:iso:ts:21496:-1";  // and its final '\0'
std::vector<std::uint8_t> isoVersionPayload();                          // the primary's: versions 0, 0
std::vector<std::uint8_t> isoGainMapPayload(const GainMapValues &values);
std::string gainMapXmpPacket(const GainMapValues &values, bool elements = false);
// The primary's packet: hdrgm:Version and a directory of the primary and a map of `mapLength` bytes.
std::string primaryXmpPacket(std::size_t mapLength);
// An MPF APP2 payload ("MPF\0", big-endian): the primary of `primaryLength` bytes at 0, the map of
// `mapLength` bytes at `mapOffset` from the MPF's TIFF header.
std::vector<std::uint8_t> mpfPayload(std::uint32_t primaryLength, std::uint32_t mapLength, std::uint32_t mapOffset);

// The stored picture of a grid of patches: pixel (x, y) takes the patch under it.
RgbImage patchGrid(int width, int height, int columns, const std::vector<HdrPatch> &patches, bool mapCodes);

}  // namespace testimages
