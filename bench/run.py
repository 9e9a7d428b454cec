#!/usr/bin/env python3
"""The benchmark behind `make bench`: both phases of Redim Jpeg against libjpeg-turbo's own
tools, libvips and ImageMagick, on a folder of real photos, in one run.

Steps: gather the photos (every JPEG of at least 1000 x 1000 pixels in Debian's
plasma-workspace-wallpapers and ukui-wallpapers packages, downloaded and unpacked into a cache
folder, never installed), build a release tree of our own, then time every contender several
times, alternating them so that drift on a shared machine hits all of them alike, and keep the
median.  Peak memory is the largest resident size of any process of a run (GNU time's %M).

Phase 1 of our program runs through the real main window (bench/phase1_run.cpp) with the real
libimglib.so, on every core and held to one (taskset).  libjpeg-turbo's own tools run both file by
file and as many files at a time as there are cores (xargs -P), as a person with a shell would.
The floor is libjpeg-turbo decoding alone, in one process (bench/decode_floor.cpp), at full size
and at 1/8, on every core and on one; the best peer is vipsthumbnail as it runs best, one process
for all the photos of one size and as many such processes at a time as there are cores.  Each
contender writes its results into a fresh folder of its own, next to the others, and the results
of a run are removed before the next one.  CPU time is user + sys of the whole run (GNU time).

The JPEGs of Phase 2 are measured too: their total size and the mean butteraugli distance of each
JPEG to the bitmap it was made from, for ConvertImg, cjpeg at quality 90 (4:2:0, optimised: what
ConvertImg wrote before its settings were chosen by measure), ImageMagick and libvips at quality 90
on the same bitmaps.  --reference-tree adds the ConvertImg of another build tree (say main's),
timed and measured beside ours.

Two variants of the photos show what carrying things costs: the same photos without the metadata
the program carries, and with a gain map added as a phone saves it (Ultra HDR).

Prints the tables and writes each into its section of docs/performance.md (write_sections()),
where the prose around them stays as written.  Standard library only.
"""

import argparse
import collections
import hashlib
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
REPORT = ROOT / "docs" / "performance.md"
PACKAGES = ["plasma-workspace-wallpapers", "ukui-wallpapers"]
MIN_SIDE = 1000
CORPUS_VERSION = "1"  # bump when the selection rule changes


def log(message):
    print(f"bench: {message}", file=sys.stderr, flush=True)


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


# ---- The photos -------------------------------------------------------------------------------

def jpeg_size(path):
    """Width and height from the first frame header, or None for anything that is not a JPEG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"\xff\xd8":
        return None
    i = 2
    while i + 4 <= len(data):
        if data[i] != 0xFF:
            return None
        marker = data[i + 1]
        if marker == 0xFF:
            i += 1
            continue
        if marker in (0x01,) or 0xD0 <= marker <= 0xD7:
            i += 2
            continue
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            if i + 9 > len(data):
                return None
            height, width = struct.unpack(">HH", data[i + 5:i + 9])
            return width, height
        i += 2 + length
    return None


def gather_photos(cache):
    photos = cache / "photos"
    done = photos / ".complete"
    if done.exists() and done.read_text() == CORPUS_VERSION:
        return photos
    debs = cache / "debs"
    unpacked = cache / "unpacked"
    debs.mkdir(parents=True, exist_ok=True)
    if not all(any(debs.glob(f"{p}_*.deb")) for p in PACKAGES):
        log(f"downloading {' '.join(PACKAGES)} into {debs}")
        command = ["apt-get", "download", "-q"] + PACKAGES
        if subprocess.run(command, cwd=debs, stdout=subprocess.DEVNULL).returncode != 0:
            sudo = [] if os.geteuid() == 0 else ["sudo"]
            run(sudo + ["apt-get", "update", "-qq"])
            run(command, cwd=debs, stdout=subprocess.DEVNULL)
    shutil.rmtree(unpacked, ignore_errors=True)
    for deb in sorted(debs.glob("*.deb")):
        run(["dpkg-deb", "-x", str(deb), str(unpacked)])

    # Regular files only (the packages link one photo under several names), each photo once.
    chosen = []
    seen = set()
    for path in sorted(unpacked.rglob("*")):
        if path.is_symlink() or not path.is_file() or path.suffix.lower() not in (".jpg", ".jpeg"):
            continue
        size = jpeg_size(path)
        if size is None or min(size) < MIN_SIDE:
            continue
        digest = hashlib.sha256(path.read_bytes()).hexdigest()
        if digest in seen:
            continue
        seen.add(digest)
        chosen.append(path)
    shutil.rmtree(photos, ignore_errors=True)
    photos.mkdir(parents=True)
    for n, path in enumerate(chosen, 1):
        relative = path.relative_to(unpacked).with_suffix("")
        name = re.sub(r"[^A-Za-z0-9_.-]+", "-", "-".join(p for p in relative.parts
                                                        if p not in ("usr", "share", "contents", "images")))
        shutil.copyfile(path, photos / f"{n:02d}-{name}.jpg")
    done.write_text(CORPUS_VERSION)
    log(f"{len(chosen)} photos in {photos}")
    return photos


def carries_metadata(marker, payload):
    """Whether a segment is one of the kinds the program carries: APP1 Exif or XMP, APP13, COM."""
    if marker == 0xE1:
        return payload.startswith(b"Exif\0\0") or payload.startswith(b"http://ns.adobe.com/xap/1.0/\0")
    return marker in (0xED, 0xFE)


def variant(photos, cache, name, changed):
    """The folder `name` in `cache` of every photo as `changed` (its bytes) makes it, made once per
    version of the corpus."""
    folder = cache / name
    done = folder / ".complete"
    if done.exists() and done.read_text() == CORPUS_VERSION:
        return folder
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for path in sorted(photos.glob("*.jpg")):
        (folder / path.name).write_bytes(changed(path))
    done.write_text(CORPUS_VERSION)
    return folder


def without_metadata(photos, cache):
    """The same photos with the segments the program carries taken out (EXIF, XMP, IPTC,
    comments), to measure what carrying them through both phases costs."""
    def stripped(path):
        data = path.read_bytes()
        out, i = bytearray(data[:2]), 2
        while i + 4 <= len(data) and data[i] == 0xFF and data[i + 1] not in (0xDA, 0xD9):
            length = struct.unpack(">H", data[i + 2:i + 4])[0]
            segment = data[i:i + 2 + length]
            if not carries_metadata(data[i + 1], segment[4:]):
                out += segment
            i += 2 + length
        return bytes(out + data[i:])
    return variant(photos, cache, "photos-without-metadata", stripped)


def iso_gain_map_segment(payload):
    """An APP2 segment in ISO 21496-1 form: the identifier, then `payload`."""
    body = b"urn:iso:std:iso:ts:21496:-1\0" + payload
    return b"\xff\xe2" + struct.pack(">H", 2 + len(body)) + body


def mpf_segment(primary_length, map_length, tiff_at):
    """An APP2 MPF index of two images, the photo and its gain map right after it; `tiff_at` is the
    file offset of the index's TIFF header, which its offsets count from."""
    entries = struct.pack(">IIIHH", 0x030000, primary_length, 0, 0, 0) + \
        struct.pack(">IIIHH", 0, map_length, primary_length - tiff_at, 0, 0)
    ifd = struct.pack(">H", 3) + struct.pack(">HHI4s", 0xB000, 7, 4, b"0100") + \
        struct.pack(">HHII", 0xB001, 4, 1, 2) + struct.pack(">HHII", 0xB002, 7, 32, 8 + 2 + 36 + 4) + \
        struct.pack(">I", 0)
    body = b"MPF\0" + b"MM\0\x2a" + struct.pack(">I", 8) + ifd + entries
    return b"\xff\xe2" + struct.pack(">H", 2 + len(body)) + body


def with_gain_map(photos, cache):
    """The same photos as a phone would save them in Ultra HDR, ISO 21496-1 form: after the photo,
    a grey gain map JPEG of a quarter of its sides (its own brightness, a plausible map), listed in
    an MPF index; to measure what carrying a gain map through both phases costs."""
    djpeg, cjpeg = find_tool("djpeg"), find_tool("cjpeg")
    version = iso_gain_map_segment(b"\0\0\0\0")
    # One channel, in the photo's colour space; headroom 0 to 2; gain map 0 to 2 (log2), gamma 1,
    # offsets 1/64.
    values = iso_gain_map_segment(struct.pack(">HHB", 0, 0, 0x40) + struct.pack(">IIII", 0, 1, 2, 1) +
                                  struct.pack(">iIiIIIiIiI", 0, 1, 2, 1, 1, 1, 1, 64, 1, 64))
    mpf_bytes = len(mpf_segment(0, 0, 0))

    def with_map(path):
        grey = run([djpeg, "-grayscale", "-scale", "1/4", "-pnm", str(path)], capture_output=True).stdout
        coded = run([cjpeg, "-quality", "85"], input=grey, capture_output=True).stdout
        gain_map = coded[:2] + values + coded[2:]
        data = path.read_bytes()
        i = 2  # the declarations go after the leading APPn segments, before the tables
        while i + 4 <= len(data) and data[i] == 0xFF and 0xE0 <= data[i + 1] <= 0xEF:
            i += 2 + struct.unpack(">H", data[i + 2:i + 4])[0]
        primary_length = len(data) + len(version) + mpf_bytes
        mpf = mpf_segment(primary_length, len(gain_map), i + len(version) + 8)
        return data[:i] + version + mpf + data[i:] + gain_map
    return variant(photos, cache, "photos-with-gain-map", with_map)


# ---- The build --------------------------------------------------------------------------------

def build(tree):
    log(f"building the release tree {tree}")
    run(["cmake", "-S", str(ROOT), "-B", str(tree), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
        stdout=subprocess.DEVNULL)
    run(["cmake", "--build", str(tree), "--target", "redim_phase1_run", "redim_decode_floor", "ConvertImg",
         "imglib"], stdout=subprocess.DEVNULL)


# ---- Timing -----------------------------------------------------------------------------------

class Timer:
    """Runs a command under GNU time; returns wall seconds and the peak resident size in MiB, and
    keeps the CPU time (user + sys) of the run in `cpu`."""

    def __init__(self, scratch):
        self.report = scratch / "time.txt"
        self.cpu = 0.0

    def __call__(self, command, env=None):
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", str(self.report)] + command,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed:\n{done.stderr.decode(errors='replace')}")
        user, system, peak_kib = self.report.read_text().split()[-3:]
        self.cpu = float(user) + float(system)
        return seconds, int(peak_kib) / 1024


def per_file(body):
    """A shell loop running `body` on every photo: $f is the input, $o the output without
    its extension."""
    return ["sh", "-c", 'in="$1"; out="$2"; for f in "$in"/*.' + '"$3"' + '; do n=${f##*/}; o="$out/${n%.*}"; '
            + body + ' || exit 1; done', "sh"]


def in_parallel(body, jobs):
    """`body` on every photo, `jobs` files at a time (xargs -P), as a person with a shell would
    use every core; the same arguments and variables as per_file(). The script rides in $0."""
    script = 'f="$1"; n=${f##*/}; o="$OUT/${n%.*}"; ' + body
    return ["sh", "-c", f'export OUT="$2"; find "$1" -maxdepth 1 -name "*.$3" -print0 | '
            f'xargs -0 -r -n 1 -P {jobs} sh -c "$0" sh', script]


def one_core(command):
    """The same command held to the first core, as on a one-core machine."""
    return ["taskset", "-c", "0"] + command


def find_tool(name):
    # Debian's own binary: a wrapper of the same name earlier in PATH would time itself too.
    for folder in ("/usr/bin", "/bin"):
        if os.access(f"{folder}/{name}", os.X_OK):
            return f"{folder}/{name}"
    found = shutil.which(name)
    if not found:
        sys.exit(f"bench: {name} is missing (scripts/install-deps --bench installs it)")
    return found


class Contender:
    def __init__(self, name, phase, rate, command, ours=False, keep=None, slow=False, role=""):
        self.name, self.phase, self.rate = name, phase, rate
        self.command = command  # function (output folder) -> argv
        self.ours = ours        # the one the others are compared with: ours, on every core
        self.keep = keep        # folder to keep the first run's results in, for quality checks
        self.slow = slow        # many times slower than ours: fewer runs tell enough
        self.role = role        # "one core" for ours held to one core, "parallel" for a peer on every core,
                                # "file by file" for the same peer one file at a time, "no metadata" and
                                # "gain map" for ours on the variants of the photos
        self.times, self.peaks, self.cpus = [], [], []


def usable_cores():
    return len(os.sched_getaffinity(0))


def vipsthumbnail_groups(photos, rate, listing):
    """One line per size of photo in `listing`: the box of that size at `rate` %, then the photos,
    for one vipsthumbnail process each."""
    groups = {}
    for p in sorted(photos.glob("*.jpg")):
        groups.setdefault(jpeg_size(p), []).append(str(p))
    lines = []
    for (w, h), files in sorted(groups.items()):
        box = f"{max(1, round(w * rate / 100))}x{max(1, round(h * rate / 100))}"
        lines.append(" ".join([box] + files))
    listing.write_text("\n".join(lines) + "\n")
    return listing


def floor_contenders(tree, photos, eighths):
    floor = str(tree / "bench" / "redim_decode_floor")
    size = "full size" if eighths == 8 else f"{eighths}/8"
    command = [floor, str(photos), str(eighths)]
    return [Contender(f"libjpeg-turbo decoding alone, {size}, one process", "1", 0, lambda out: command),
            Contender(f"libjpeg-turbo decoding alone, {size}, one process, one core", "1", 0,
                      lambda out: one_core(command))]


def phase1_contenders(tree, photos, rate, keep, bare, hdr, scratch):
    djpeg, vips, convert = find_tool("djpeg"), find_tool("vips"), find_tool("convert")
    jobs = usable_cores()
    m = {50: "4/8", 25: "2/8", 100: "8/8"}.get(rate)
    fraction = rate / 100
    runner = str(tree / "bench" / "redim_phase1_run")
    ours = Contender("Redim Jpeg (window)", "1", rate,
                     lambda out: [runner, str(photos), str(rate), str(out)], ours=True,
                     keep=keep / f"ours-{rate}")
    result = [ours, Contender("Redim Jpeg (window), one core", "1", rate,
                              lambda out: one_core([runner, str(photos), str(rate), str(out)]), role="one core"),
              Contender("Redim Jpeg (window), photos without metadata", "1", rate,
                        lambda out: [runner, str(bare), str(rate), str(out)], keep=keep / f"bare-{rate}",
                        role="no metadata"),
              Contender("Redim Jpeg (window), photos with a gain map", "1", rate,
                        lambda out: [runner, str(hdr), str(rate), str(out)], keep=keep / f"hdr-{rate}",
                        role="gain map")]
    if m:
        scale = "" if m == "8/8" else f"-scale {m} "
        body = f'"{djpeg}" {scale}-bmp -outfile "$o.bmp" "$f"'
        label = f"djpeg {scale}-bmp"
        result.append(Contender(f"{label}, file by file", "1", rate,
                                lambda out: per_file(body) + [str(photos), str(out), "jpg"], role="file by file"))
        result.append(Contender(f"{label}, {jobs} at a time", "1", rate,
                                lambda out: in_parallel(body, jobs) + [str(photos), str(out), "jpg"],
                                role="parallel"))
    floors = floor_contenders(tree, photos, 8 if rate >= 50 else 1)
    for c in floors:
        c.rate = rate
    result += floors
    if rate < 100:
        thumbnail = find_tool("vipsthumbnail")
        listing = vipsthumbnail_groups(photos, rate, scratch / f"vipsthumbnail-{rate}.txt")
        script = f'out="$1"; shift; box="$1"; shift; exec "{thumbnail}" -s "$box" -o "$out/%s.ppm" "$@"'
        result.append(Contender(f"vipsthumbnail (.ppm), a process per photo size, {jobs} at a time", "1", rate,
                                lambda out: ["xargs", "-a", str(listing), "-P", str(jobs), "-L", "1",
                                             "sh", "-c", script, "sh", str(out)]))
    if rate == 100:
        result.append(Contender("vips copy (.ppm)", "1", rate, lambda out: per_file(
            f'"{vips}" copy "$f" "$o.ppm"') + [str(photos), str(out), "jpg"], slow=True))
        result.append(Contender("ImageMagick convert", "1", rate, lambda out: per_file(
            f'"{convert}" "$f" "$o.bmp"') + [str(photos), str(out), "jpg"], slow=True))
    else:
        result.append(Contender("vips resize (.ppm)", "1", rate, lambda out: per_file(
            f'"{vips}" resize "$f" "$o.ppm" {fraction}') + [str(photos), str(out), "jpg"], slow=True))
        result.append(Contender("ImageMagick convert -resize", "1", rate, lambda out: per_file(
            f'"{convert}" "$f" -filter Lanczos -resize {rate}% "$o.bmp"') + [str(photos), str(out), "jpg"],
            keep=keep / f"magick-{rate}", slow=True))
    return result


def phase2_contenders(tree, bitmaps, bare, hdr, rate, keep, reference=None):
    """The converters on the bitmaps of one rate.  Those whose JPEGs are measured for size and
    distance keep their first run's results in `keep`/p2-<role>-<rate>; `reference` is the
    ConvertImg of another tree (--reference-tree), timed against ours."""
    cjpeg, mogrify, vips = find_tool("cjpeg"), find_tool("mogrify"), find_tool("vips")
    jobs = usable_cores()
    converter = str(tree / "ConvertImg")
    body = f'"{cjpeg}" -quality 90 -optimize -outfile "$o.jpg" "$f"'

    def ours(out, program=converter):
        return [program, "/jpg", "/S", "/R", f"{bitmaps}/*.bmp", str(out)]

    def kept(role):
        return keep / f"p2-{role}-{rate}"

    result = [
        Contender("ConvertImg", "2", rate, ours, ours=True, keep=kept("ours")),
        Contender("ConvertImg, one core", "2", rate, lambda out: one_core(ours(out)), role="one core"),

        Contender("cjpeg -quality 90 -optimize, file by file", "2", rate,
                  lambda out: per_file(body) + [str(bitmaps), str(out), "bmp"], keep=kept("cjpeg"),
                  role="file by file"),
        Contender(f"cjpeg -quality 90 -optimize, {jobs} at a time", "2", rate,
                  lambda out: in_parallel(body, jobs) + [str(bitmaps), str(out), "bmp"], role="parallel"),
        Contender("mogrify -format jpg -quality 90", "2", rate, lambda out: [
            "sh", "-c", f'"{mogrify}" -path "$1" -format jpg -quality 90 "$2"/*.bmp', "sh", str(out), str(bitmaps)],
            keep=kept("magick"), slow=True),
        Contender("vips copy .jpg[Q=90], file by file", "2", rate, lambda out: per_file(
            f'"{vips}" copy "$f" "$o.jpg[Q=90]"') + [str(bitmaps), str(out), "bmp"], keep=kept("vips"), slow=True),
    ]
    if reference is not None:
        result.append(Contender(f"ConvertImg of {reference}", "2", rate,
                                lambda out: ours(out, str(reference / "ConvertImg")), keep=kept("reference"),
                                role="reference"))
    if bare.exists():
        result.append(Contender("ConvertImg, bitmaps without metadata", "2", rate,
                                lambda out: [converter, "/jpg", "/S", "/R", f"{bare}/*.bmp", str(out)], role="no metadata"))
    if hdr.exists():
        result.append(Contender("ConvertImg, bitmaps with a gain map", "2", rate,
                                lambda out: [converter, "/jpg", "/S", "/R", f"{hdr}/*.bmp", str(out)], role="gain map"))
    return result


def measure(groups, reps, slow_reps, scratch, timer):
    """Runs every contender of every group `reps` times (the slow ones `slow_reps` times); in
    each round the order of the contenders within a group turns by one, so that none always
    runs first."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for rep in range(reps):
        log(f"round {rep + 1} of {reps}")
        for group in groups:
            order = group[rep % len(group):] + group[:rep % len(group)]
            for c in order:
                if c.slow and rep >= slow_reps:
                    continue
                out = scratch / "out"
                shutil.rmtree(out, ignore_errors=True)
                out.mkdir()
                seconds, peak = timer(c.command(out), env)
                c.times.append(seconds)
                c.peaks.append(peak)
                c.cpus.append(timer.cpu)
                log(f"  {c.name}, phase {c.phase} at {c.rate} %: {seconds:.3f} s, CPU {timer.cpu:.2f} s, "
                    f"{peak:.0f} MiB")
                if c.keep is not None and not c.keep.exists():
                    ran_window = c.phase == "1" and c.name.startswith("Redim Jpeg")
                    produced = out / "tmp" / "RaduZor" if ran_window else out
                    shutil.copytree(produced, c.keep)
                shutil.rmtree(out, ignore_errors=True)


# ---- Quality ----------------------------------------------------------------------------------

def psnr(compare, a, b):
    done = subprocess.run([compare, "-metric", "PSNR", str(a), str(b), "null:"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    text = done.stderr.strip().split()[0] if done.stderr.strip() else ""
    if text == "inf":
        return float("inf")
    try:
        return float(text)
    except ValueError:
        raise RuntimeError(f"compare {a} {b}: {done.stderr.strip()}")


# ---- Size and perceptual distance of the converters' JPEGs -----------------------------------

# butteraugli takes about a second per megapixel on one core: at 100 % only the bitmaps of at most
# 2560 x 1600 (13 of the 26 photos) are measured, so that the whole run stays within minutes.
DISTANCE_MAX_PIXELS = {100: 2560 * 1600}


def bmp_pixels(path):
    with open(path, "rb") as f:
        header = f.read(26)
    width, height = struct.unpack("<ii", header[18:26])
    return width * abs(height)


def coded_bytes(path):
    """A JPEG's size without the metadata segments ConvertImg carries (EXIF, XMP, IPTC,
    comments), which say nothing of how well the pixels are coded."""
    data = path.read_bytes()
    metadata, i = 0, 2
    while i + 4 <= len(data) and data[i] == 0xFF and data[i + 1] not in (0xDA, 0xD9):
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if carries_metadata(data[i + 1], data[i + 4:i + 2 + length]):
            metadata += 2 + length
        i += 2 + length
    return len(data) - metadata


def distances(bitmaps, folders, rate, scratch):
    """Size and butteraugli distance of each JPEG of every folder of `folders` ({contender name:
    folder}) against the bitmap it was made from, turned into a PNG first (losslessly: butteraugli
    reads PNG and JPEG only).  Returns the photos measured and {contender name: [(bytes, distance)]}."""
    butteraugli, convert = find_tool("butteraugli"), find_tool("convert")
    limit = DISTANCE_MAX_PIXELS.get(rate)
    names = [p.stem for p in sorted(bitmaps.glob("*.bmp")) if limit is None or bmp_pixels(p) <= limit]
    pngs = scratch / f"png-{rate}"
    pngs.mkdir()

    def to_png(name):
        run([convert, str(bitmaps / f"{name}.bmp"), f"PNG24:{pngs / name}.png"])

    def measured(job):
        contender, name = job
        jpeg = folders[contender] / f"{name}.jpg"
        done = run([butteraugli, str(pngs / f"{name}.png"), str(jpeg)], capture_output=True, text=True)
        return coded_bytes(jpeg), float(done.stdout.split()[0])

    jobs = [(contender, name) for contender in folders for name in names]
    with ThreadPoolExecutor(usable_cores()) as pool:
        list(pool.map(to_png, names))
        results = list(pool.map(measured, jobs))
    shutil.rmtree(pngs)
    by_contender = {contender: [] for contender in folders}
    for (contender, _), result in zip(jobs, results):
        by_contender[contender].append(result)
    return names, by_contender


def totals(results):
    """Total bytes and mean distance of one contender's results."""
    return sum(b for b, _ in results), statistics.mean(d for _, d in results)


# ---- Report -----------------------------------------------------------------------------------

def table(groups):
    rows = ["| contender | phase | rate | median s | spread s | ratio to ours | CPU s | peak MiB |",
            "|---|---|---|---|---|---|---|---|"]
    for group in groups:
        ours = statistics.median(next(c for c in group if c.ours).times)
        for c in group:
            median = statistics.median(c.times)
            rows.append(f"| {c.name} | {c.phase} | {c.rate} % | {median:.3f} | {max(c.times) - min(c.times):.3f} | "
                        f"{median / ours:.2f} | {statistics.median(c.cpus):.2f} | {max(c.peaks):.0f} |")
    return rows


def distance_table(measured):
    """Phase 2's JPEGs: total size and mean distance of each contender, and both against cjpeg's
    quality 90 with 4:2:0 chroma and optimised Huffman tables, the setting ConvertImg had before
    its settings were chosen by measure."""
    rows = ["| JPEGs of the same bitmaps | rate | photos | total KB | size / cjpeg q90 | mean distance | "
            "distance / cjpeg q90 |", "|---|---|---|---|---|---|---|"]
    for rate, (names, by_contender, q90) in measured.items():
        base = totals(by_contender[q90]) if q90 else None
        for contender, results in by_contender.items():
            size, distance = totals(results)
            ratios = (f"{size / base[0]:.3f} | {distance:.3f} | {distance / base[1]:.3f}" if base
                      else f"- | {distance:.3f} | -")
            rows.append(f"| {contender} | {rate} % | {len(names)} | {size / 1000:.0f} | {ratios} |")
    return rows


def gains(groups):
    """Each group's gain from one core to all, ours next to separate processes' (a peer file by
    file, then as many files at a time as there are cores)."""
    lines = []
    for group in groups:
        ours = next(c for c in group if c.ours)
        one = next((c for c in group if c.role == "one core"), None)
        alone = next((c for c in group if c.role == "file by file"), None)
        many = next((c for c in group if c.role == "parallel"), None)
        if not (one and alone and many):
            continue
        our_gain = statistics.median(one.times) / statistics.median(ours.times)
        their_gain = statistics.median(alone.times) / statistics.median(many.times)
        cpu = statistics.median(ours.cpus) / statistics.median(one.cpus)
        lines.append(f"Phase {ours.phase} at {ours.rate} %: from one core to {usable_cores()}, ours x{our_gain:.2f}, "
                     f"{many.name.split(',')[0]} as separate processes x{their_gain:.2f} "
                     f"({100 * our_gain / their_gain:.0f} %); our CPU time x{cpu:.2f}.")
    return lines


def targets(groups, converter_groups, quality, bound, measured):
    """The goals the benchmark is run for, each with what this run measured."""
    def median(c):
        return statistics.median(c.times)

    def find(group, test):
        return next((c for c in group if test(c)), None)

    rows = ["| goal | measured | met |", "|---|---|---|"]

    def row(goal, value, met):
        rows.append(f"| {goal} | {value} | {'yes' if met else 'no'} |")

    def scaling_rows(group):
        ours = next(c for c in group if c.ours)
        one = find(group, lambda c: c.role == "one core")
        alone = find(group, lambda c: c.role == "file by file")
        parallel = find(group, lambda c: c.role == "parallel")
        where = f"Phase {ours.phase} at {ours.rate} %"
        if one and alone and parallel:
            ours_gain = median(one) / median(ours)
            their_gain = median(alone) / median(parallel)
            row(f"{where}: from one core to {usable_cores()}, at least 95 % of the gain of separate processes "
                f"({parallel.name.split(',')[0]})", f"x{ours_gain:.2f} against x{their_gain:.2f} "
                f"({100 * ours_gain / their_gain:.0f} %)", ours_gain >= 0.95 * their_gain)
        if one:
            cpu = statistics.median(ours.cpus) / statistics.median(one.cpus)
            row(f"{where}: CPU time on {usable_cores()} cores at most 1.15 x that on one", f"{cpu:.2f} x",
                cpu <= 1.15)

    for group in groups:
        ours = next(c for c in group if c.ours)
        rate = ours.rate
        parallel = find(group, lambda c: c.role == "parallel")
        if parallel:
            ratio = median(ours) / median(parallel)
            row(f"Phase 1 at {rate} % at most 1.0 x {parallel.name}", f"{ratio:.2f} x", ratio <= 1.0)
        scaling_rows(group)
        if rate != 100:
            for prefix, factor in (("vips resize", 2), ("ImageMagick", 5)):
                other = find(group, lambda c: c.name.startswith(prefix))
                if other:
                    speedup = median(other) / median(ours)
                    row(f"Phase 1 at {rate} % at least {factor} x faster than {other.name}", f"{speedup:.1f} x",
                        speedup >= factor)
        peak = max(ours.peaks)
        row(f"Phase 1 at {rate} %: peak memory at most (cores + 2) x largest decoded photo + 100 MiB "
            f"({bound:.0f} MiB)", f"{peak:.0f} MiB", peak <= bound)
    for group in groups + converter_groups:
        ours = next(c for c in group if c.ours)
        bare = find(group, lambda c: c.role == "no metadata")
        if bare:
            ratio = median(ours) / median(bare)
            row(f"Phase {ours.phase} at {ours.rate} %: carrying the metadata (EXIF, XMP, IPTC, comments) costs "
                "nothing measurable (at most 2 %)", f"{ratio:.3f} x the time without it", ratio <= 1.02)
        hdr = find(group, lambda c: c.role == "gain map")
        if hdr:
            # A quarter-size map has a sixteenth of the photo's pixels, grey: its decoding, scaling
            # and coding should cost about as much again.
            ratio = median(hdr) / median(ours)
            row(f"Phase {ours.phase} at {ours.rate} %: carrying a gain map of a quarter of the photo's sides costs "
                "at most 10 %", f"{ratio:.3f} x the time without it", ratio <= 1.10)
    for group in converter_groups:
        scaling_rows(group)
        ours = next(c for c in group if c.ours)
        parallel = find(group, lambda c: c.role == "parallel")
        if parallel:
            ratio = median(ours) / median(parallel)
            row(f"Converter on the {ours.rate} % bitmaps at most 0.7 x {parallel.name}", f"{ratio:.2f} x",
                ratio <= 0.7)
    for group in converter_groups:
        ours = next(c for c in group if c.ours)
        reference = find(group, lambda c: c.role == "reference")
        if reference:
            ratio = statistics.median(ours.cpus) / statistics.median(reference.cpus)
            row(f"Converter on the {ours.rate} % bitmaps: CPU time at most 1.3 x {reference.name}", f"{ratio:.2f} x",
                ratio <= 1.3)
    for rate, (names, by_contender, q90) in measured.items():
        ours = next(c for c in converter_groups[0] if c.ours).name
        if q90 and ours in by_contender:
            (size, distance), (base_size, base_distance) = totals(by_contender[ours]), totals(by_contender[q90])
            row(f"Converter on the {rate} % bitmaps: total size within 2 % of cjpeg -quality 90 -optimize's, mean "
                "butteraugli distance at least 20 % lower", f"size {size / base_size:.3f} x, distance {distance / base_distance:.3f} x",
                abs(size / base_size - 1) <= 0.02 and distance / base_distance <= 0.8)
    for rate, values in quality.items():
        worst = min(values)
        row(f"Every photo at {rate} % within 40 dB PSNR of ImageMagick's Lanczos", f"worst {worst[0]:.1f} dB",
            worst[0] >= 40)
    return rows


# What main() measured of memory: the window at rest, the largest photos alone, folders of copies.
Memory = collections.namedtuple("Memory", "resting largest decoded in_flight bound alone heaviest counts folder_peaks")


def report(args, rates, sizes, groups, converter_groups, measured, quality, memory):
    """The tables and lines of a run, by section of the page they go to (write_sections())."""
    m = memory
    largest, bound, counts, folder_peaks = m.largest, m.bound, m.counts, m.folder_peaks
    timings = [f"Redim Jpeg benchmark: {len(sizes)} photos "
               f"({sum(w * h for w, h in sizes.values()) / 1e6:.0f} Mpx, {', '.join(PACKAGES)}), "
               f"{os.cpu_count()} cores (nproc {subprocess.run(['nproc'], capture_output=True, text=True).stdout.strip()}), "
               f"median of {args.reps} runs ({min(args.reps, args.slow_reps)} for libvips and ImageMagick), "
               "contenders alternated; ratio to ours = contender's time / ours.", ""]
    timings += table(groups + converter_groups)
    jpegs = ["Phase 2's JPEGs: total size (without the metadata segments, which only ConvertImg carries) and "
             "mean butteraugli distance of each photo's JPEG against the bitmap it was made from (lower is "
             "better, about 1 is just visible); at 100 % only the photos of at most 2560 x 1600.", ""]
    jpegs += distance_table(measured)
    peaks = [f"Peak memory: the window at rest {m.resting:.0f} MiB; the largest photos "
             f"({len(largest)} of {sizes[largest[0]][0]} x {sizes[largest[0]][1]}) decode to {m.decoded:.0f} MiB; "
             f"{m.in_flight} cores, so the bound ({m.in_flight} + 2) x decoded + 100 MiB is {bound:.0f} MiB. "
             f"Alone in a folder at 50 %, they peak at "
             + ", ".join(f"{m.alone[p]:.0f} MiB ({p.stem})" for p in largest)
             + f". Folders of copies of {m.heaviest.stem} peak at "
             + "; ".join(f"{r} %: " + ", ".join(f"{folder_peaks[r, k]:.0f} MiB for {k}" for k in counts)
                         for r in rates) + "."]
    for rate, values in quality.items():
        worst = min(values)
        below = [name for v, name in values if v < 40]
        peaks.append(f"PSNR against ImageMagick -filter Lanczos -resize {rate}%: worst {worst[0]:.1f} dB "
                     f"({worst[1]}), median {statistics.median(v for v, _ in values):.1f} dB, "
                     f"{len(values) - len(below)} of {len(values)} photos at 40 dB or more"
                     + (f"; below: {', '.join(below)}" if below else "") + ".")
    goals = targets(groups, converter_groups, quality, bound, measured)
    for rate in rates:
        few, many = folder_peaks[rate, counts[1]], folder_peaks[rate, counts[2]]
        goals.append(f"| Phase 1 at {rate} %: peak memory flat in the number of photos | {many:.0f} MiB for "
                     f"{counts[2]} photos, {few:.0f} MiB for {counts[1]} | {'yes' if many <= 1.1 * few else 'no'} |")
        most_copies = max(folder_peaks[rate, k] for k in counts)
        goals.append(f"| Phase 1 at {rate} %: folders of copies of {m.heaviest.stem} within the bound "
                     f"({bound:.0f} MiB) | {most_copies:.0f} MiB | {'yes' if most_copies <= bound else 'no'} |")
    return {"timings": timings, "gains": gains(groups + converter_groups), "jpegs": jpegs, "memory": peaks,
            "goals": goals}


def write_sections(path, sections):
    """Writes each section of `sections` ({name: lines}) into the page at `path`, between the
    lines `<!-- bench:NAME -->` and `<!-- /bench:NAME -->`, in place of what stood there;
    everything outside the markers stays as it is.  A section the page has no markers for yet is
    added at its end, markers and all.  The page is written whole or not at all."""
    text = path.read_text() if path.exists() else ""
    for name, lines in sections.items():
        begin, end = f"<!-- bench:{name} -->", f"<!-- /bench:{name} -->"
        block = "\n".join([begin, "", *lines, "", end])
        found = re.search(re.escape(begin) + r"\n.*?" + re.escape(end), text, re.S)
        if found:
            text = text[:found.start()] + block + text[found.end():]
        else:
            text = text.rstrip("\n") + ("\n\n" if text else "") + block + "\n"
    path.parent.mkdir(parents=True, exist_ok=True)
    written = path.with_name(f".{path.name}.new")
    written.write_text(text)
    written.replace(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--reps", type=int, default=5, help="runs of each contender (default 5)")
    parser.add_argument("--slow-reps", type=int, default=3,
                        help="runs of libvips and ImageMagick, several times slower (default 3)")
    parser.add_argument("--tree", default=str(ROOT / "build-release"), help="release build tree")
    parser.add_argument("--rates", default="50,25,100", help="Phase 1 rates, in percent")
    parser.add_argument("--no-build", action="store_true", help="use the release tree as it is")
    parser.add_argument("--only", default="", help="comma-separated words: keep contenders whose "
                        "name holds one of them (ours always runs)")
    parser.add_argument("--reference-tree", default="", help="a build tree of another version (e.g. main's): "
                        "its ConvertImg is timed and measured beside ours")
    parser.add_argument("--output", default=str(REPORT),
                        help="the page whose marked sections get the tables (default docs/performance.md)")
    args = parser.parse_args()

    cache = Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "redim-bench"
    photos = gather_photos(cache)
    tree = Path(args.tree).resolve()
    if not args.no_build:
        build(tree)
    compare = find_tool("compare")
    rates = [int(r) for r in args.rates.split(",") if r]
    only = [w.lower() for w in args.only.split(",") if w]

    def wanted(group):
        return [c for c in group if c.ours or not only or any(w in c.name.lower() for w in only)]

    scratch = Path(tempfile.mkdtemp(prefix="redim-bench-"))
    try:
        timer = Timer(scratch)
        keep = scratch / "kept"
        keep.mkdir()
        for p in photos.glob("*.jpg"):  # every contender then reads from the page cache
            p.read_bytes()
        bare = without_metadata(photos, cache)
        hdr = with_gain_map(photos, cache)
        groups = [wanted(phase1_contenders(tree, photos, rate, keep, bare, hdr, scratch)) for rate in rates]
        measure(groups, args.reps, args.slow_reps, scratch, timer)

        # The converter, on the bitmaps Phase 1 left at each rate.
        reference = Path(args.reference_tree).resolve() if args.reference_tree else None
        converter_groups = []
        for rate in rates:
            bitmaps = keep / f"ours-{rate}"
            converter_groups.append(wanted(phase2_contenders(tree, bitmaps, keep / f"bare-{rate}",
                                                             keep / f"hdr-{rate}", rate, keep, reference)))
        measure(converter_groups, args.reps, args.slow_reps, scratch, timer)

        # Size and distance of the converters' JPEGs, each against the bitmaps they were made from.
        measured = {}
        for rate, group in zip(rates, converter_groups):
            log(f"butteraugli on the JPEGs of the {rate} % bitmaps")
            folders = {c.name: c.keep for c in group if c.keep is not None and c.keep.exists()}
            q90 = next((c.name for c in group if c.name.startswith("cjpeg") and c.role == "file by file"), None)
            names, by_contender = distances(keep / f"ours-{rate}", folders, rate, scratch)
            measured[rate] = names, by_contender, q90

        # Memory: the window at rest; each of the largest photos alone, to find the one that needs
        # most; then folders of more and more copies of it: the peak must stay under the bound and
        # not grow with their number.
        empty = scratch / "empty"
        empty.mkdir()
        runner = str(tree / "bench" / "redim_phase1_run")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        _, resting = timer([runner, str(empty), "50", str(scratch / "rest")], env)
        sizes = {p: jpeg_size(p) for p in photos.glob("*.jpg")}
        most = max(w * h for w, h in sizes.values())
        largest = sorted(p for p in sizes if sizes[p][0] * sizes[p][1] == most)
        decoded = most * 3 / 2**20
        in_flight = usable_cores()
        bound = (in_flight + 2) * decoded + 100

        def peak_of(folder, rate):
            return timer([runner, str(folder), str(rate), str(scratch / f"mem-{folder.name}-{rate}")], env)[1]

        alone = {}
        for photo in largest:
            folder = scratch / f"alone-{photo.stem}"
            folder.mkdir()
            shutil.copyfile(photo, folder / photo.name)
            alone[photo] = peak_of(folder, 50)
        heaviest = max(largest, key=lambda p: alone[p])
        counts = [1, in_flight + 1, 4 * (in_flight + 1)]
        folder_peaks = {}
        for count in counts:
            folder = scratch / f"copies-{count}"
            folder.mkdir()
            for n in range(count):
                shutil.copyfile(heaviest, folder / f"{n:03d}.jpg")
            for rate in rates:
                folder_peaks[rate, count] = peak_of(folder, rate)

        # Quality: each photo at each reduction against ImageMagick's Lanczos.
        quality = {}
        for rate in rates:
            theirs = keep / f"magick-{rate}"
            if rate >= 100 or not theirs.exists():
                continue
            values = []
            for ours in sorted((keep / f"ours-{rate}").glob("*.bmp")):
                values.append((psnr(compare, ours, theirs / ours.name), ours.stem))
            quality[rate] = values

        memory = Memory(resting, largest, decoded, in_flight, bound, alone, heaviest, counts, folder_peaks)
        sections = report(args, rates, sizes, groups, converter_groups, measured, quality, memory)
        print("\n\n".join("\n".join(lines) for lines in sections.values()))
        write_sections(Path(args.output), sections)
        log(f"written to {args.output}")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
