#!/usr/bin/env bash
# Mutation pass over the rules of update/ and usb/. Each mutant changes one line of one
# file; the debug build of a separate worktree is rebuilt with it and the tests are run.
# A mutant that no test notices marks a rule the tests do not hold.
#
#   tools/mutants.sh [--tree DIR] [--full] [--only N[,N...]] [--list]
#
#   --tree DIR  the worktree to mutate (default /tmp/mutants): a git worktree of this
#               repository, created and configured with the debug preset when missing,
#               and moved to this repository's HEAD: the pass tests what is committed.
#               The tree this script is started from is never touched.
#   --full      run the whole ctest suite for every mutant. Without it each mutant first
#               meets the test programs that link the core (usb, sim, update, fault, app),
#               run directly, which is much quicker than ctest's process per case; a
#               mutant those miss is then run against the whole ctest suite before it
#               counts as a survivor.
#   --only      only the mutants with these numbers (see --list).
#   --list      print the mutants and stop.
#
# Not part of CI: a pass takes about a minute per mutant on two cores, more for one that
# goes on to ctest. The file is restored after every mutant, and on any way out (error,
# Ctrl-C, kill). The pass fails when a mutant survives that is not listed as equivalent,
# or when one no longer applies or builds (the table is out of date).
set -euo pipefail

# The repository: the one this script lies in, or (for a copy run from elsewhere, so
# that editing the script cannot disturb a pass) the one of the working directory.
SOURCE="$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel 2>/dev/null || git rev-parse --show-toplevel)"
TREE=/tmp/mutants
FULL=0
ONLY=""
LIST=0
while [ $# -gt 0 ]; do
    case "$1" in
        --tree) TREE="$2"; shift 2 ;;
        --full) FULL=1; shift ;;
        --only) ONLY=",$2,"; shift 2 ;;
        --list) LIST=1; shift ;;
        *) echo "usage: $0 [--tree DIR] [--full] [--only N[,N...]] [--list]" >&2; exit 2 ;;
    esac
done

FILES=() ORIGINALS=() REPLACEMENTS=() WHAT=() NTH=() EQUIVALENT=()
# mutant FILE ORIGINAL REPLACEMENT WHAT [N]: in the N-th line (default 1) of FILE that
# contains the text ORIGINAL, that text becomes REPLACEMENT.
mutant() {
    FILES+=("$1") ORIGINALS+=("$2") REPLACEMENTS+=("$3") WHAT+=("$4") NTH+=("${5:-1}") EQUIVALENT+=("")
}
# equivalent REASON: the mutant just listed changes nothing any test could see, for
# REASON; its survival is expected and does not fail the pass.
equivalent() {
    EQUIVALENT[${#EQUIVALENT[@]} - 1]="$1"
}

# Which boot loaders are early, and whether the boot stage is due.
mutant update/update_job.h 'EARLY_BOOT_BUILD_LIMIT = 3183;' 'EARLY_BOOT_BUILD_LIMIT = 3182;' \
    'build limit 3183 -> 3182'
mutant update/boot_stage.cpp 'if (m_mainBootBuild <= EARLY_BOOT_BUILD_LIMIT) {' \
    'if (m_mainBootBuild < EARLY_BOOT_BUILD_LIMIT) {' 'stage due for an early loader: <= -> <'
mutant update/boot_stage.cpp 'const bool early = m_mainBootBuild <= EARLY_BOOT_BUILD_LIMIT;' \
    'const bool early = m_mainBootBuild < EARLY_BOOT_BUILD_LIMIT;' 'early method: <= -> <'
mutant update/boot_stage.cpp 'due = version < row.bootVersion || build < row.bootBuild;' \
    'due = version < row.bootVersion && build < row.bootBuild;' 'boot stage due: || -> &&'
mutant update/boot_stage.cpp 'const bool secondary = m_secondaryBootVersion != 0;' \
    'const bool secondary = false;' 'secondary boot loader never decides'
# Addresses and lengths.
mutant update/boot_stage.cpp 'const std::uint32_t address = early ? 0 : BOOT_AREA_ADDRESS;' \
    'const std::uint32_t address = BOOT_AREA_ADDRESS;' 'early loaders get the image at 0x40000, not 0'
mutant update/update_job.h 'BOOT_AREA_ADDRESS = 0x40000;' 'BOOT_AREA_ADDRESS = 0x20000;' \
    'boot area 0x40000 -> 0x20000'
mutant update/update_job.h 'APPLICATION_AREA_ADDRESS = 0x80000;' 'APPLICATION_AREA_ADDRESS = 0xA0000;' \
    'application area 0x80000 -> 0xA0000'
mutant update/application_stage.cpp 'if (!ReadBack(APPLICATION_AREA_ADDRESS, n, readBack.get())) {' \
    'if (!ReadBack(APPLICATION_AREA_ADDRESS, n - 1, readBack.get())) {' 'application read-back one byte short'
mutant update/stage_support.cpp 'if (!m_link->ReadMemory(address + offset, size, destination + offset, MEMORY_SELECTOR_READ_BACK)) {' \
    'if (!m_link->ReadMemory(address, size, destination + offset, MEMORY_SELECTOR_READ_BACK)) {' \
    'every read-back piece from the start address'
mutant update/boot_stage.cpp 'const std::uint64_t twoBlocks = 2ull * m_link->GetBootBlockSize();' \
    'const std::uint64_t twoBlocks = 2ull * CTesselUsb::DEFAULT_BOOT_BLOCK_SIZE;' \
    'boot read-back ignores the reported block size'
# The early layout: reserve and gap.
mutant update/boot_stage.cpp 'const std::uint32_t r = m_link->GetBootReserve();' \
    'const std::uint32_t r = CTesselUsb::DEFAULT_BOOT_RESERVE;' 'undoing the layout ignores the reported reserve'
mutant update/boot_stage.cpp 'const std::uint32_t b = m_link->GetBootBlockSize();' \
    'const std::uint32_t b = CTesselUsb::DEFAULT_BOOT_BLOCK_SIZE;' 'undoing the layout ignores the reported block size'
mutant update/boot_stage.cpp 'if (std::memcmp(readBack + (b - r), erasedReserve, r) == 0) {' \
    'if (std::memcmp(readBack + (b - r), erasedReserve, r) != 0) {' 'gap closed only when the reserve is not erased'
mutant update/boot_stage.cpp 'std::memmove(readBack + (b - r), readBack + b, b);' \
    'std::memmove(readBack + (b - r), readBack + b, b - r);' 'gap closed with B - R bytes instead of B'
mutant update/boot_stage.cpp 'std::memmove(readBack, readBack + 8, 2 * b - 8);' \
    'std::memmove(readBack, readBack + 4, 2 * b - 8);' 'header of 4 bytes dropped instead of 8'
mutant usb/tessel_usb_downloads.cpp \
    'FillBootLayout(layout.get(), total, m_bootBlockSize, m_bootReserve, image, length, loadAddress);' \
    'FillBootLayout(layout.get(), total, m_bootBlockSize, DEFAULT_BOOT_RESERVE, image, length, loadAddress);' \
    'layout filled with the default reserve'
mutant usb/tessel_usb_downloads.cpp 'std::memcpy(layout + blockSize, image + firstPart, n - firstPart);' \
    'std::memcpy(layout + blockSize - reserve, image + firstPart, n - firstPart);' 'layout without the reserve gap'
mutant usb/tessel_usb_downloads.cpp 'WriteLittleEndian32(layout + 4, twoBlocks ? LAYOUT_TWO_BLOCKS_WORD : 0);' \
    'WriteLittleEndian32(layout + 4, twoBlocks ? blockSize : 0);' 'second header word B instead of 0x20000'
mutant usb/tessel_usb_downloads.cpp 'const std::uint32_t working = n > firstPart ? 2 * blockSize : n;' \
    'const std::uint32_t working = n >= firstPart ? 2 * blockSize : n;' 'second block from a full first part on'
mutant usb/tessel_usb_downloads.cpp 'loadAddress == 0 ? 2 * blockSize - reserve - LAYOUT_HEADER_SIZE : 2 * blockSize;' \
    'loadAddress == 0 ? 2 * blockSize - reserve : 2 * blockSize;' 'room at address 0 forgets the header'
mutant usb/tessel_usb_downloads.cpp 'reserve >= blockSize - LAYOUT_HEADER_SIZE) {' \
    'reserve > blockSize - LAYOUT_HEADER_SIZE) {' 'a reserve that fills the first block is taken'
mutant usb/tessel_usb_downloads.cpp 'if (const std::uint32_t reserve = ReadLittleEndian32(info + INFO_OFFSET_RESERVE); reserve != 0) {' \
    'if (const std::uint32_t reserve = ReadLittleEndian32(info + INFO_OFFSET_RESERVE); true) {' \
    'a reserve word of 0 replaces the default'
mutant usb/tessel_usb_downloads.cpp 'm_bootReserve = DEFAULT_BOOT_RESERVE;' '(void)0;' \
    'the reserve is not reset before each download'
# Attempts and erases.
mutant update/update_job.h 'MAX_ATTEMPTS = 3;' 'MAX_ATTEMPTS = 4;' 'four attempts per stage'
mutant update/boot_stage.cpp 'for (std::uint32_t attempt = 1; attempt <= MAX_ATTEMPTS; ++attempt) {' \
    'for (std::uint32_t attempt = 1; attempt < MAX_ATTEMPTS; ++attempt) {' 'two boot attempts'
mutant update/application_stage.cpp 'for (std::uint32_t attempt = 1; attempt <= MAX_ATTEMPTS; ++attempt) {' \
    'for (std::uint32_t attempt = 1; attempt < MAX_ATTEMPTS; ++attempt) {' 'two application attempts'
mutant update/boot_stage.cpp 'm_link->Erase(BOOT_AREA_ADDRESS, BOOT_AREA_ADDRESS);' '(void)0;' \
    'no erase before the early boot download'
mutant update/boot_stage.cpp 'if (early) {' 'if (true) {' 'erase before every boot download'
mutant update/boot_stage.cpp 'm_link->Erase(BOOT_AREA_ADDRESS, BOOT_AREA_ADDRESS);' \
    'm_link->Erase(BOOT_AREA_ADDRESS, 0x20000);' 'early erase of 0x20000 bytes instead of 0x40000'
mutant update/application_stage.cpp 'verificationFailed = attempt == MAX_ATTEMPTS;' 'verificationFailed = true;' \
    'application erased after any mismatch that ends the stage'
mutant update/application_stage.cpp 'm_link->Erase(APPLICATION_AREA_ADDRESS, 0x20000);' \
    'm_link->Erase(APPLICATION_AREA_ADDRESS, 0x40000);' 'application erase of 0x40000 bytes'
mutant update/application_stage.cpp 'm_link->Erase(APPLICATION_AREA_ADDRESS, 0x20000);' '(void)0;' \
    'no erase after the third application mismatch'
# Sequence counting and the download packets.
mutant usb/tessel_usb.cpp '++m_sequence;' 'm_sequence += received >= USB_HEADER_SIZE ? 1 : 0;' \
    'replies without a whole header not counted'
mutant usb/tessel_usb_downloads.cpp 'SetRequest(CMD_PROGRAM_APPLICATION, 0, typeSent, 0, length, 0, DOWNLOAD_MARKER);' \
    'SetRequest(CMD_PROGRAM_APPLICATION, 0, typeSent, 0, length, 0, 0);' 'application chunks without the marker'
mutant usb/usb_codes.h 'DOWNLOAD_MARKER = 0xC00DC00Du;' 'DOWNLOAD_MARKER = 0xC00DC00Cu;' \
    'download marker 0xC00DC00D -> 0xC00DC00C'
mutant usb/tessel_usb.cpp 'WriteLittleEndian32(m_sendBuffer + HEADER_OFFSET_SEQUENCE, m_sequence);' \
    'WriteLittleEndian32(m_sendBuffer + HEADER_OFFSET_SEQUENCE, m_sequence + 1);' 'requests stamped one ahead'
mutant usb/tessel_usb.cpp 'constexpr int ATTEMPTS = 3;' 'constexpr int ATTEMPTS = 2;' \
    'two write attempts per request'
# Identification.
mutant usb/tessel_usb.cpp 'if (reportedVersion >= 0x50 && reportedVersion <= 0x53) {' \
    'if (reportedVersion >= 0x50 && reportedVersion <= 0x52) {' 'type 3 -> 4 window ends at 0x52'
mutant usb/tessel_usb.cpp '} else if (reportedVersion >= 0x60 && reportedVersion <= 0x62) {' \
    '} else if (reportedVersion >= 0x61 && reportedVersion <= 0x62) {' 'type 3 -> 5 window starts at 0x61'
mutant usb/tessel_usb.cpp 'if (reportedBootMode != 0 && type == 3) {' 'if (type == 3) {' \
    'type 3 corrected outside boot mode too'
mutant usb/tessel_usb.cpp 'if (type == 1 && reportedBootMode != 0 && reportedVersion >= 0x100 && reportedVersion <= 0x1FF) {' \
    'if (type == 1 && reportedBootMode != 0 && reportedVersion >= 0x100 && reportedVersion <= 0x1FE) {' \
    'type-1 boot-mode correction ends at 0x1FE'
mutant usb/tessel_usb.cpp 'm_build = type >= 16 ? reply.parameter[3] : 0;' \
    'm_build = type >= 17 ? reply.parameter[3] : 0;' 'type 16 reports no build'
# Machine types of the images.
mutant usb/tessel_usb_downloads.cpp 'if (machineType != m_machineType) {' 'if (false) {' \
    'application of another machine type is sent'
mutant usb/tessel_usb_downloads.cpp 'const std::uint32_t typeSent = fromType3 ? 3 : machineType;' \
    'const std::uint32_t typeSent = fromType3 ? machineType : machineType;' \
    'corrected type-3 writers get type 4/5 in the download'
mutant usb/tessel_usb_downloads.cpp '(m_machineType == 5 && m_version >= 0x60 && m_version <= 0x62));' \
    '(m_machineType == 5 && m_version >= 0x60 && m_version <= 0x61));' 'type 3 sent again for 5 only up to 0x61'
# Chunk and piece sizes.
mutant usb/tessel_usb_downloads.cpp 'constexpr std::uint32_t APPLICATION_CHUNK_SIZE = 65536;' \
    'constexpr std::uint32_t APPLICATION_CHUNK_SIZE = 32768;' 'application chunks of 32 KiB'
mutant usb/tessel_usb_downloads.cpp 'const std::uint32_t chunkLimit = std::min(m_transferBlockSize, MAX_PAYLOAD_SIZE);' \
    'const std::uint32_t chunkLimit = MAX_PAYLOAD_SIZE;' 'boot chunks ignore the transfer block size'
equivalent 'only types 16 and 17 get boot code, and both have a transfer block of 65536, the largest payload'
mutant usb/tessel_usb.cpp 'm_transferBlockSize = smallTransfers ? 8192 : 65536;' \
    'm_transferBlockSize = smallTransfers ? 65536 : 65536;' 'early Quint models get 64 KiB transfers'
mutant usb/tessel_usb.cpp 'const bool smallTransfers = type == 2 || (type >= 6 && type <= 15);' \
    'const bool smallTransfers = type >= 6 && type <= 15;' 'type 2 gets 64 KiB transfers'
mutant update/stage_support.cpp 'const std::uint32_t size = std::min(piece, length - offset);' \
    'const std::uint32_t size = std::min(piece / 2, length - offset);' 'read-back pieces of half the transfer block'

COUNT=${#FILES[@]}
selected() { [ -z "$ONLY" ] || [[ "$ONLY" == *",$1,"* ]]; }

if [ "$LIST" = 1 ]; then
    for ((i = 0; i < COUNT; ++i)); do
        printf '%2d  %-30s %s\n' $((i + 1)) "${FILES[$i]}" "${WHAT[$i]}"
    done
    exit 0
fi

if [ "$(realpath -m "$TREE")" = "$(realpath "$SOURCE")" ]; then
    echo "mutants: refusing to mutate the tree the script runs from" >&2
    exit 2
fi
if [ ! -e "$TREE/.git" ]; then
    git -C "$SOURCE" worktree add --detach "$TREE" HEAD
fi
BUILD="$TREE/build/debug"
SHARED="$(realpath -m "$SOURCE/../shared")"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    (cd "$TREE" && cmake --preset debug -DTESSEL_SHARED_DIR="$SHARED")
fi
if ! git -C "$TREE" diff --quiet; then
    echo "mutants: $TREE has changes; restore them first" >&2
    exit 2
fi
git -C "$TREE" checkout -q --detach "$(git -C "$SOURCE" rev-parse HEAD)"

LOGS="$BUILD/mutants"
mkdir -p "$LOGS"
BACKUP="$LOGS/original"
CURRENT=""
restore() {
    if [ -n "$CURRENT" ]; then
        cp -p "$BACKUP" "$TREE/$CURRENT"
        touch "$TREE/$CURRENT"  # newer than the mutant's objects, so the next build recompiles
        CURRENT=""
    fi
}
trap restore EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM

# Applies mutant $1 to its file and sets LINE to the line it changed; false when the
# text is not in the file (the table is out of date).
apply() {
    local i=$1 file="$TREE/${FILES[$1]}"
    LINE=$(grep -nF -- "${ORIGINALS[$i]}" "$file" | sed -n "${NTH[$i]}p" | cut -d: -f1)
    if [ -z "$LINE" ]; then
        return 1
    fi
    cp -p "$file" "$BACKUP"
    CURRENT="${FILES[$i]}"
    LINE="$LINE" ORIGINAL="${ORIGINALS[$i]}" REPLACEMENT="${REPLACEMENTS[$i]}" perl -i -pe '
        if ($. == $ENV{LINE}) {
            my $at = index($_, $ENV{ORIGINAL});
            substr($_, $at, length($ENV{ORIGINAL})) = $ENV{REPLACEMENT};
        }' "$file"
}

# The test programs that link the core, quickest first.
PROGRAMS=(usb/usb_command_tests usb/usb_link_tests usb/usb_link_allocation_tests sim/sim_tests update/update_tests
          update/update_run_tests update/update_builtin_images_tests app/app_tests app/app_update_tests
          fault/fault_tests)

build_programs() {
    local targets=() program
    for program in "${PROGRAMS[@]}"; do
        targets+=("${program#*/}")
    done
    cmake --build "$BUILD" -j2 --target "${targets[@]}"
}

# Runs the programs until one fails; prints its first failing test, or for a crash
# (a sanitizer report, a timeout) the test that was running.
run_programs() {
    local log=$1 program failed output
    for program in "${PROGRAMS[@]}"; do
        [ -x "$BUILD/tests/$program" ] || continue
        output="$LOGS/last-program.log"
        if ! (cd "$BUILD" && TESSEL_SHARED_DIR="$SHARED" timeout 600 "tests/$program" > "$output" 2>&1); then
            cat "$output" >> "$log"
            failed=$(grep -m1 -E '^\[  FAILED  \] [A-Za-z_/]+\.' "$output" | sed -E 's/^\[  FAILED  \] //; s/[, ].*//')
            if [ -z "$failed" ]; then
                failed="$(grep -E '^\[ RUN      \] ' "$output" | tail -1 | sed -E 's/^\[ RUN      \] //')"
                if grep -q -E 'AddressSanitizer|runtime error' "$output"; then
                    failed="$failed (sanitizer report)"
                else
                    failed="$failed (crashed or timed out)"
                fi
            fi
            echo "$failed"
            return 0
        fi
        echo "== $program passed" >> "$log"
    done
    return 1
}

# The whole ctest suite; prints the first failing test.
run_ctest() {
    local log=$1
    if ! (cd "$BUILD" && ctest -j2 --timeout 600 >> "$log" 2>&1); then
        local failed
        failed=$(sed -n '/The following tests FAILED/,$p' "$log" | grep -m1 -E '^\s+[0-9]+ - ' |
                 sed -E 's/^\s+[0-9]+ - //; s/ \(.*//')
        echo "${failed:-ctest failed}"
        return 0
    fi
    return 1
}

echo "mutants: building $TREE unmutated"
cmake --build "$BUILD" -j2 > "$LOGS/build-original.log" 2>&1 || {
    echo "mutants: the unmutated tree does not build; see $LOGS/build-original.log" >&2
    exit 1
}

REPORT="$LOGS/report.md"
printf '| # | mutant | where | what changed | result | first failing test |\n|---|---|---|---|---|---|\n' > "$REPORT"
killed=0 survived=0 equivalents=0 other=0
for ((i = 0; i < COUNT; ++i)); do
    selected $((i + 1)) || continue
    number=$((i + 1))
    log="$LOGS/mutant-$number.log"
    : > "$log"
    if ! apply "$i"; then
        result="not applied (text not found)" first="-" where="${FILES[$i]}"
        other=$((other + 1))
    else
        where="${FILES[$i]}:$LINE"
        echo "mutants: #$number $where: ${WHAT[$i]}"
        if [ "$FULL" = 0 ] && ! build_programs >> "$log" 2>&1; then
            result="does not build" first="-"
            other=$((other + 1))
        elif [ "$FULL" = 0 ] && first=$(run_programs "$log"); then
            result="killed"
            killed=$((killed + 1))
        elif ! cmake --build "$BUILD" -j2 >> "$log" 2>&1; then
            result="does not build" first="-"
            other=$((other + 1))
        elif first=$(run_ctest "$log"); then
            result="killed"
            killed=$((killed + 1))
        elif [ -n "${EQUIVALENT[$i]}" ]; then
            result="survived, equivalent: ${EQUIVALENT[$i]}" first="-"
            equivalents=$((equivalents + 1))
        else
            result="SURVIVED" first="-"
            survived=$((survived + 1))
        fi
        restore
    fi
    printf '| %d | %s | %s | `%s` -> `%s` | %s | %s |\n' "$number" "${WHAT[$i]}" "$where" \
        "${ORIGINALS[$i]//|/\\|}" "${REPLACEMENTS[$i]//|/\\|}" "$result" "$first" >> "$REPORT"
    echo "mutants: #$number $result $first"
done

git -C "$TREE" diff --quiet || { echo "mutants: $TREE not restored" >&2; exit 1; }
echo "mutants: $killed killed, $survived survived, $equivalents equivalent, $other not run; table in $REPORT"
cat "$REPORT"
[ "$survived" = 0 ] && [ "$other" = 0 ]
