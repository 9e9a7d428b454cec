// Command line of the converter: switches, the two positional arguments, and the usage text.
#include "convertimg/options.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace convertimg {

namespace {

std::string lowerAscii(std::string_view s)
{
    std::string lower(s);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

} // namespace

bool parseArguments(std::span<const std::string_view> args, Options& options, std::string& error)
{
    options = Options{};
    std::vector<std::string_view> positional;
    bool switchesEnded = false;
    for (const std::string_view arg : args) {
        if (switchesEnded) {
            positional.push_back(arg);
            continue;
        }
        const std::string lower = lowerAscii(arg);
        if (lower == "-h" || lower == "--help") {
            options.help = true;
            return true;
        }
        if (lower == "--") {
            switchesEnded = true;
        } else if (lower == "/jpg" || lower == "-jpg") {
            // JPEG is the only output format.
        } else if (lower == "/s" || lower == "-s") {
            // Silent: the converter never asks anything, so there is nothing to silence.
        } else if (lower == "/r" || lower == "-r") {
            options.replace = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            // Paths start with '/' on this system, so only the '-' form can be an unknown switch.
            error = "unknown switch '" + std::string(arg) + "'";
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2) {
        error = positional.empty() ? "missing PATTERN and OUTDIR" : "missing OUTDIR";
        return false;
    }
    if (positional.size() > 2) {
        error = "unexpected argument '" + std::string(positional[2]) + "'";
        return false;
    }
    if (positional[0].empty() || positional[1].empty()) {
        error = positional[0].empty() ? "empty PATTERN" : "empty OUTDIR";
        return false;
    }
    options.pattern = positional[0];
    options.outDir = positional[1];
    return true;
}

std::string_view usageText()
{
    return "Usage : ConvertImg [/jpg] [/S] [/R] MOTIF DOSSIER\n"
           "  Convertit en JPEG chaque bitmap (.bmp) qui correspond à MOTIF, un dossier suivi\n"
           "  d'un nom avec * et ? (sans distinction de casse), par exemple /tmp/images/*.bmp ;\n"
           "  NOM.bmp devient NOM.jpg dans DOSSIER. Les métadonnées (EXIF, XMP, IPTC, commentaires)\n"
           "  que Redim Jpeg a laissées à la fin d'un bitmap passent dans son JPEG.\n"
           "  /jpg  sortie JPEG (le seul format)\n"
           "  /S    silencieux (aucune question n'est jamais posée)\n"
           "  /R    remplace les JPEG existants (sinon ils sont gardés)\n"
           "  Les options s'écrivent aussi -jpg, -s, -r, en majuscules ou minuscules.\n"
           "  Code de sortie : 0 tout est converti, 1 au moins un échec, 2 erreur d'usage.\n"
           "\n"
           "Usage: ConvertImg [/jpg] [/S] [/R] PATTERN OUTDIR\n"
           "  Converts to JPEG every bitmap (.bmp) that matches PATTERN, a folder followed by\n"
           "  a name with * and ? (letter case ignored), for example /tmp/images/*.bmp;\n"
           "  NAME.bmp becomes NAME.jpg in OUTDIR. The metadata (EXIF, XMP, IPTC, comments) Redim\n"
           "  Jpeg left at the end of a bitmap goes into its JPEG.\n"
           "  /jpg  JPEG output (the only format)\n"
           "  /S    silent (no question is ever asked)\n"
           "  /R    replace existing JPEGs (otherwise they are kept)\n"
           "  Switches may also be written -jpg, -s, -r, in either letter case.\n"
           "  Exit status: 0 all converted, 1 at least one failure, 2 usage error.\n";
}

} // namespace convertimg
