#!/usr/bin/env bash
# Real-kernel end-to-end test: boots Debian's armhf kernel under qemu-system-arm (machine
# ast2600-evb) with an emulated 24C64 EEPROM on I2C bus 0, and runs the production elabel,
# cross-built for armhf, through the real i2c-aspeed and i2c-dev drivers, the real lock file
# under /run and busybox syslogd. Checks each command's stdout bytes and exit status, the
# log lines, and afterwards the chip's bytes on the host.
#
#   run-kernel-test.sh SOURCE_DIR WORK_DIR [NATIVE_ELABEL_IMAGE SIM_LIBRARY_DIR]
#
# With the native elabel-image and simulator it also boots the guest once more on a chip
# whose label a write-back left cut short (made with them on the host, record included), and
# checks that the guest's `elabel-image recover` finishes it through the same stack.
#
# All of it runs twice: over i2c-dev, then with the kernel's at24 driver bound to the chip
# (as a device tree declaring the EEPROM binds it), where the tool goes through at24's nvmem
# file; the same checks hold, and the log says which way each run took.
#
# ELABEL_KERNEL_CMAKE_ARGS adds options to the armhf configure (for example -DELABEL_WERROR=ON).
# ELABEL_KERNEL_TRANSPORT_LIB=/path/libquellix.so runs the guest with that armhf build of the
# I2C library instead of the one built here (a board's own copy, or a deliberately broken one).
# Exit status: 0 passed, 1 failed, 77 skipped (tools or packages cannot be had).
set -uo pipefail
export LC_ALL=C

readonly SKIP=77
readonly TRIPLE=arm-linux-gnueabihf
readonly SYSROOT_LIB=/usr/$TRIPLE/lib
readonly CONTROLLER=1e78a080   # I2C controller of aspeed bus 0 in the device tree
readonly DEVICE=/dev/i2c-8     # the tool's fixed bus device
readonly CHIP_SIZE=8192
readonly LABEL_START=512
readonly LABEL_LEN=2360

skip() { echo "SKIP: $*"; exit "$SKIP"; }
die() { echo "FAIL: $*"; exit 1; }

[ $# -eq 2 ] || [ $# -eq 4 ] ||
    { echo "usage: $0 SOURCE_DIR WORK_DIR [NATIVE_ELABEL_IMAGE SIM_LIBRARY_DIR]" >&2; exit 2; }
SRC=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && WORK=$(cd "$2" && pwd) || exit 2
NATIVE_IMAGE=${3:-}
NATIVE_SIM=${4:-}
export PATH=$PATH:/usr/sbin:/sbin

# ---------------------------------------------------------------- the item table
# id, name in the listing, capacity of the data field; blocks follow each other from byte 4.
ITEMS=(
    "10 chassis_type 4" "11 chassis_part_num 68" "12 chassis_serial_num 68"
    "20 bd_mfg_time 68" "21 bd_manufacture 68" "22 bd_product_name 68" "23 bd_serial_num 68"
    "24 bd_part_num 68" "25 bd_file_id 68"
    "30 prd_manufacture 68" "31 prd_name 68" "32 prd_part_num 68" "33 prd_version 68"
    "34 prd_serial_num 68" "35 prd_asset_tag 68" "36 prd_file_id 68"
    "60 sys_manufacture 68" "61 sys_name 68" "62 sys_version 68" "63 sys_serial_num 68"
    "64 sys_description 496" "65 sys_issuenumber 48" "66 sys_cleicode 48" "67 sys_bom 48"
    "68 sys_model 48" "50 extend_info 268"
)

# ---------------------------------------------------------------- results
passed=0
failed=0
PASS_NAME=i2c-dev
ok() { passed=$((passed + 1)); echo "ok     [$PASS_NAME] $*"; }
bad() { failed=$((failed + 1)); echo "FAILED [$PASS_NAME] $*"; }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}

# ---------------------------------------------------------------- tools and packages
need_tools() {
    local t missing=()
    for t in qemu-system-arm "$TRIPLE-gcc" "$TRIPLE-g++" "$TRIPLE-readelf" cmake cpio gzip \
        od cmp apt-get apt-cache dpkg-deb depmod modprobe timeout; do
        command -v "$t" >/dev/null 2>&1 || missing+=("$t")
    done
    [ ${#missing[@]} -eq 0 ] ||
        skip "missing tools: ${missing[*]} (scripts/install-deps.sh installs them)"
}

# Downloads the armhf kernel and busybox-static into WORK/cache (kept between runs); sets
# KERNEL_PKG and DEBS, or FETCH_ERROR and fails.
KERNEL_PKG=
DEBS=()
FETCH_ERROR=
try_fetch() {
    local cache=$WORK/cache pkg
    DEBS=()
    mkdir -p "$cache"
    KERNEL_PKG=$(apt-cache depends linux-image-armmp:armhf 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[^ :]*-armmp\)\(:armhf\)\{0,1\}$/\1/p' | head -n 1)
    if [ -z "$KERNEL_PKG" ]; then
        # No armhf package lists: a kernel downloaded earlier still does.
        KERNEL_PKG=$(find "$cache" -name 'linux-image-*-armmp_*_armhf.deb' -printf '%f\n' |
            sed 's/_.*//' | sort -V | tail -n 1)
        FETCH_ERROR="no armhf kernel package: the armhf architecture is not set up for apt"
        FETCH_ERROR+=" (scripts/install-deps.sh does it)"
        [ -n "$KERNEL_PKG" ] || return 1
    fi
    for pkg in "$KERNEL_PKG" busybox-static; do
        if ! compgen -G "$cache/${pkg}_*_armhf.deb" >/dev/null; then
            if ! (cd "$cache" && apt-get download -q -o APT::Sandbox::User=root "$pkg:armhf") \
                >>"$WORK/download.log" 2>&1; then
                FETCH_ERROR="cannot download $pkg:armhf: $(tail -n 1 "$WORK/download.log")"
                return 1
            fi
        fi
        DEBS+=("$(ls "$cache/${pkg}"_*_armhf.deb | sort -V | tail -n 1)")
    done
}

# Fetches the packages (refreshing stale package lists once, as root) and unpacks them into
# WORK/pkgroot.
fetch_packages() {
    local deb
    : >"$WORK/download.log"
    if ! try_fetch; then
        [ "$(id -u)" -eq 0 ] || skip "$FETCH_ERROR"
        echo "$FETCH_ERROR; refreshing apt's package lists"
        apt-get update -q >>"$WORK/download.log" 2>&1
        try_fetch || skip "$FETCH_ERROR"
    fi
    if [ "$(cat "$WORK/pkgroot.stamp" 2>/dev/null)" != "${DEBS[*]}" ]; then
        rm -rf "$WORK/pkgroot"
        for deb in "${DEBS[@]}"; do
            dpkg-deb -x "$deb" "$WORK/pkgroot" || die "cannot unpack $deb"
        done
        echo "${DEBS[*]}" >"$WORK/pkgroot.stamp"
    fi
    echo "kernel package: $KERNEL_PKG"
}

# ---------------------------------------------------------------- cross build
IMAGE_BIN=
cross_build() {
    local dir=$WORK/armhf image=OFF targets=(elabel)
    # elabel-image needs json-c for armhf (libjson-c-dev:armhf, which install-deps.sh installs).
    if [ -n "$NATIVE_IMAGE" ]; then
        [ -e "/usr/lib/$TRIPLE/libjson-c.so" ] ||
            skip "no json-c for armhf (libjson-c-dev:armhf) to build the guest's elabel-image"
        image=ON
        targets+=(elabel-image)
    fi
    echo "cross-building ${targets[*]} for armhf in $dir"
    cmake -S "$SRC" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchain-armhf.cmake" \
        -DBUILD_TESTING=OFF -DELABEL_IMAGE=$image -DCMAKE_BUILD_TYPE=Release \
        ${ELABEL_KERNEL_CMAKE_ARGS:-} >"$WORK/armhf-configure.log" 2>&1 ||
        { tail -n 30 "$WORK/armhf-configure.log"; die "armhf configure failed"; }
    cmake --build "$dir" --target "${targets[@]}" -j2 >"$WORK/armhf-build.log" 2>&1 ||
        { tail -n 30 "$WORK/armhf-build.log"; die "armhf build failed"; }
    ELABEL_BIN=$dir/src/app/elabel/elabel
    [ -x "$ELABEL_BIN" ] || die "no $ELABEL_BIN after the armhf build"
    if [ $image = ON ]; then
        IMAGE_BIN=$dir/src/app/elabel-image/elabel-image
        [ -x "$IMAGE_BIN" ] || die "no $IMAGE_BIN after the armhf build"
    fi
}

# Finds the armhf file for a DT_NEEDED name as the guest's loader would: the override for the
# I2C library, then elabel's RUNPATH (directories of the armhf build), then the cross
# toolchain's C and C++ runtime, then Debian's multiarch armhf packages (json-c).
find_library() {
    local name=$1 dir
    if [ -n "${ELABEL_KERNEL_TRANSPORT_LIB:-}" ] && [[ $name == libquellix.so* ]]; then
        echo "$ELABEL_KERNEL_TRANSPORT_LIB"
        return
    fi
    for dir in "${RUNPATH_DIRS[@]}" "$SYSROOT_LIB" "/usr/lib/$TRIPLE" "/lib/$TRIPLE"; do
        [ -n "$dir" ] && [ -e "$dir/$name" ] && { echo "$dir/$name"; return; }
    done
}

# Copies the libraries an ELF file needs, and theirs, into ROOTFS/lib.
stage_needed() {
    local elf=$1 name path
    for name in $("$TRIPLE-readelf" -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        [ -e "$ROOTFS/lib/$name" ] && continue
        path=$(find_library "$name")
        [ -n "$path" ] || die "no armhf library $name (needed by ${elf##*/})"
        cp -L "$path" "$ROOTFS/lib/$name" || die "cannot copy $path"
        echo "  lib/$name <- $path"
        stage_needed "$ROOTFS/lib/$name"
    done
}

# ---------------------------------------------------------------- the guest
KERNEL_RELEASE=
RUNPATH_DIRS=()
stage_kernel_files() {
    local moddir ko
    moddir=$(ls -d "$WORK"/pkgroot/lib/modules/*/ 2>/dev/null | head -n 1)
    [ -n "$moddir" ] || die "the kernel package holds no modules"
    KERNEL_RELEASE=$(basename "$moddir")
    VMLINUZ=$WORK/pkgroot/boot/vmlinuz-$KERNEL_RELEASE
    DTB=$WORK/pkgroot/usr/lib/linux-image-$KERNEL_RELEASE/aspeed-ast2600-evb.dtb
    [ -f "$VMLINUZ" ] && [ -f "$DTB" ] || die "kernel or device tree missing for $KERNEL_RELEASE"
    depmod -b "$WORK/pkgroot" "$KERNEL_RELEASE" || die "depmod failed"
    : >"$ROOTFS/ktest/modules"
    for ko in $( (modprobe -d "$WORK/pkgroot" -S "$KERNEL_RELEASE" --show-depends i2c-aspeed &&
        modprobe -d "$WORK/pkgroot" -S "$KERNEL_RELEASE" --show-depends i2c-dev &&
        modprobe -d "$WORK/pkgroot" -S "$KERNEL_RELEASE" --show-depends at24) |
        sed -n 's/^insmod \([^ ]*\).*/\1/p' | awk '!seen[$0]++'); do
        mkdir -p "$ROOTFS/modules"
        cp "$ko" "$ROOTFS/modules/" || die "cannot copy $ko"
        echo "/modules/${ko##*/}" >>"$ROOTFS/ktest/modules"
    done
    [ -s "$ROOTFS/ktest/modules" ] || die "modprobe found neither i2c-aspeed nor i2c-dev"
}

# A text of N bytes for sys_description.
make_text() {
    local n=$1 chars='0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ-abcdefghijklmnopqrstuvwxyz.' s='' i
    for ((i = 0; i < n; i++)); do s+=${chars:i%${#chars}:1}; done
    printf '%s' "$s"
}

STEP_COUNT=0
STEP_STATUS=()
add_step() { # add_step STATUS ARG...: one elabel run in the guest, and its exit status
    local dir
    STEP_COUNT=$((STEP_COUNT + 1))
    STEP_STATUS[STEP_COUNT]=$1
    shift
    dir=$ROOTFS/ktest/steps/$(printf '%02d' "$STEP_COUNT")
    mkdir -p "$dir"
    printf '%s\n' "$@" >"$dir/args"
}

stage_rootfs() { # stage_rootfs AT24: the guest's files, at24 bound when AT24 is 1
    ROOTFS=$WORK/rootfs
    STEP_COUNT=0
    STEP_STATUS=()
    TEXT=()
    rm -rf "$ROOTFS"
    mkdir -p "$ROOTFS"/{bin,sbin,usr/bin,usr/sbin,lib,dev,proc,sys,run,tmp,var/log,var/lib,ktest/steps}
    cp "$WORK/pkgroot/bin/busybox" "$ROOTFS/bin/busybox" || die "no busybox in busybox-static"
    cp "$SRC/tests/kernel/guest-init.sh" "$ROOTFS/init"
    chmod 755 "$ROOTFS/init"
    printf 'KTEST_CONTROLLER=%s\nKTEST_DEVICE=%s\nKTEST_AT24=%s\n' "$CONTROLLER" "$DEVICE" "$1" \
        >"$ROOTFS/ktest/config"
    stage_kernel_files

    cp "$ELABEL_BIN" "$ROOTFS/usr/sbin/elabel"
    local interp
    interp=$("$TRIPLE-readelf" -l "$ELABEL_BIN" | sed -n 's/.*program interpreter: \(.*\)\]/\1/p')
    [ -n "$interp" ] || die "elabel names no program interpreter"
    cp -L "$SYSROOT_LIB/${interp##*/}" "$ROOTFS$interp" || die "no $interp in $SYSROOT_LIB"
    IFS=: read -r -a RUNPATH_DIRS <<<"$("$TRIPLE-readelf" -d "$ELABEL_BIN" |
        sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
    echo "elabel: $("$TRIPLE-readelf" -d "$ELABEL_BIN" | grep -E 'NEEDED|RUNPATH' | tr -s ' ' | tr '\n' ';')"
    stage_needed "$ELABEL_BIN"
    if [ -n "$IMAGE_BIN" ]; then
        cp "$IMAGE_BIN" "$ROOTFS/usr/bin/elabel-image"
        stage_needed "$IMAGE_BIN"
    fi

    TEXT495=$(make_text 495)
    TEXT496=$(make_text 496)
    TEXT267=$(make_text 267)
    # Their stdout is in expected_stdout, by step number.
    # A blank chip: the first getall writes a label with its items empty and says it
    # held none (255); the next reads it valid.
    add_step 255 getall
    add_step 0 getall
    add_step 0 set 0x30 ACME
    add_step 0 set 0x64 "$TEXT495"
    add_step 0 set 0x50 "$TEXT267"
    add_step 0 get 30
    add_step 250 set 0x10 X
    add_step 250 set 0x64 "$TEXT496"
    add_step 0 getall

    (cd "$ROOTFS" && find . | cpio -o -H newc --quiet | gzip -1) >"$WORK/initramfs.cpio.gz" ||
        die "cannot pack the initramfs"
}

# The chip before the run: the label region blank (0xFF), every other byte a pattern that
# holds neither 0x00 nor 0xFF, so that a stray write anywhere shows.
make_initial_image() {
    local fmt='' h i v
    for ((i = 0; i < CHIP_SIZE; i++)); do
        if ((i >= LABEL_START && i < LABEL_START + LABEL_LEN)); then
            v=255
        else
            v=$((1 + (i * 37 + (i >> 8) * 11) % 254))
        fi
        printf -v h '\\x%02x' "$v"
        fmt+=$h
    done
    printf %b "$fmt" >"$1"
}

boot_guest() { # boot_guest CHIP INITRAMFS: the guest on a copy of CHIP in WORK/chip.img
    cp "$1" "$WORK/chip.img"
    local t0=$SECONDS
    timeout 300 qemu-system-arm -M ast2600-evb -display none -monitor none \
        -serial "file:$WORK/console.log" -no-reboot \
        -kernel "$VMLINUZ" -dtb "$DTB" -initrd "$2" \
        -append "console=ttyS4,115200n8 quiet loglevel=1 panic=-1" \
        -drive "file=$WORK/chip.img,if=none,format=raw,id=ee" \
        -device at24c-eeprom,bus=aspeed.i2c.bus.0,address=0x50,rom-size=$CHIP_SIZE,drive=ee \
        </dev/null >"$WORK/qemu.log" 2>&1
    local rc=$?
    echo "guest ran $((SECONDS - t0)) s (qemu status $rc)"
    tr -d '\r' <"$WORK/console.log" >"$WORK/console.txt"
    grep '^KTEST-SETUP\|^KTEST-PEEK\|^KTEST-PROBE\|^KTEST-BUSY\|^KTEST-LOCKMODE\|^KTEST-RECORDS' "$WORK/console.txt"
    if ! grep -q '^KTEST-END steps-done' "$WORK/console.txt"; then
        tail -n 40 "$WORK/console.txt"
        cat "$WORK/qemu.log"
        die "the guest did not finish its steps"
    fi
}

# ---------------------------------------------------------------- expected output
hex_of_file() { od -An -tx1 -v "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

# The listing of getall: the texts in the associative array TEXT, the rest empty.
expected_listing() {
    local entry id name cap value
    printf '=============================ELABEL=====================\n\r'
    printf '      magic_num:                     0x%04x\n\r' 0x454c4142
    for entry in "${ITEMS[@]}"; do
        read -r id name cap <<<"$entry"
        value=${TEXT[$id]:-}
        printf '%-37s%s\n\r' "[0x$id]$name:" "$value"
    done
    printf '=============================================================\n\r'
}

declare -A TEXT=()
expected_stdout() { # expected_stdout STEP: the bytes the step must print
    case $1 in
    01 | 02) expected_listing empty ;;
    03 | 04 | 05) printf '[elabel_set] success.\r\n' ;;
    06) printf '[elabel_data] ACME\r\n' ;;
    07) printf '[elabel_set] item id error.\r\n' ;;
    08) printf 'Data is too long, should be less than 496\r\n[elabel_set] error.\r\n' ;;
    09) TEXT=([30]=ACME [64]=$TEXT495 [50]=$TEXT267) && expected_listing texts ;;
    esac
}

# ---------------------------------------------------------------- checks of the guest's report
check_steps() {
    local i step got_hex want_hex status
    mkdir -p "$WORK/results"
    for ((i = 1; i <= STEP_COUNT; i++)); do
        step=$(printf '%02d' "$i")
        status=$(sed -n "s/^KTEST-STATUS $step //p" "$WORK/console.txt")
        check "step $step ($(head -c 40 "$ROOTFS/ktest/steps/$step/args" | tr '\n' ' ')) exit status $status" \
            [ "$status" = "${STEP_STATUS[i]}" ]
        expected_stdout "$step" >"$WORK/results/$step.expected"
        want_hex=$(hex_of_file "$WORK/results/$step.expected")
        got_hex=$(sed -n "s/^KTEST-OUT $step //p" "$WORK/console.txt" | tr -s ' \n' ' ' |
            sed 's/^ //; s/ $//')
        printf %b "$(sed 's/\([0-9a-f][0-9a-f]\) */\\x\1/g' <<<"$got_hex")" >"$WORK/results/$step.stdout"
        if [ "$got_hex" = "$want_hex" ]; then
            ok "step $step stdout ($(wc -c <"$WORK/results/$step.expected") bytes)"
        else
            bad "step $step stdout differs: cmp $WORK/results/$step.stdout $WORK/results/$step.expected"
            cmp "$WORK/results/$step.stdout" "$WORK/results/$step.expected"
        fi
    done
}

# The log lines of one step: those after logger's "step NN" mark, up to the next mark. The
# I2C library's line naming the way it reached the chip is route_log's.
all_step_log() {
    sed -n 's/^KTEST-LOG //p' "$WORK/console.txt" |
        sed -n "/ktest: step $1\$/,/ktest: step \|ktest: steps done/p" | grep ' elabel' || true
}
step_log() { all_step_log "$1" | grep -v ': quellix: EEPROM 0x50 on ' || true; }
route_log() { all_step_log "$1" | grep "user.info .*: quellix: EEPROM 0x50 on $DEVICE through " || true; }
# The way the library took in this pass, as its log line ends.
route_text() {
    if [ "$PASS_NAME" = at24 ]; then
        echo "through its kernel driver's /sys/bus/i2c/devices/$ADAPTER-0050/eeprom"
    else
        echo "through i2c-dev"
    fi
}
# logged STEP PRIORITY FUNCTION TEXT: the step logged TEXT from FUNCTION at PRIORITY (the
# source path and line of the prefix are not checked).
logged() {
    step_log "$1" | grep "user.$2 " | grep -q "\[[^],]*, [0-9]*, $3\]: .*$(sed 's/[].[*^$\\]/\\&/g' <<<"$4")"
}

check_log() {
    local step
    check "step 01 logs the wrong magic found on a blank chip" \
        logged 01 err driver_elabel_init 'magic_num is ffffffff  not right.'
    check "step 01 logs the failed load" logged 01 err elabel_main 'driver_elabel_init failed.'
    check "step 01 empties all 26 items before it writes the label" \
        [ "$(step_log 01 | grep -c 'driver_elabel_verify\]: item([0-9]*) crc error,set default')" = 26 ]
    check "step 01 logs row 25 by its index" \
        logged 01 err driver_elabel_verify 'item(25) crc error,set default'
    check "step 02 finds the label step 01 wrote valid" [ "$(step_log 02 | grep -c 'user.err')" = 0 ]
    for step in 03 04 05; do
        check "step $step logs success at info priority" \
            logged $step info elabel_set_run 'elabel_set success.'
    done
    check "step 04 finds the label written by step 03 valid" \
        [ "$(step_log 04 | grep -c 'user.err')" = 0 ]
    check "step 06 logs nothing" [ -z "$(step_log 06)" ]
    check "step 07 logs the refused id" \
        logged 07 err elabel_set_run 'item_id error. ret=-6 item_id=0x10'
    check "step 08 logs the too-long text" \
        logged 08 err set_data_to_elabel_mem 'Data is too long, should be less than 496'
    check "step 08 logs the failed set" \
        logged 08 err elabel_set_run 'driver_elabel_set_data error. ret=-6'
    check "step 09 logs nothing" [ -z "$(step_log 09)" ]
    ADAPTER=$(sed -n 's/^KTEST-SETUP .* is adapter \([0-9]*\)$/\1/p' "$WORK/console.txt")
    for step in 01 02 03 06 09; do
        check "step $step logs once that it went $(route_text)" \
            [ "$(route_log $step | grep -c " $(route_text)\$")" = 1 ] && [ "$(route_log $step | wc -l)" = 1 ]
    done
    check "lock file /run/elabel_lock_flag has mode 0600" \
        grep -qx 'KTEST-LOCKMODE 600' "$WORK/console.txt"
    check "record directory /var/lib/elabel has mode 0700 and no record left after the steps" \
        grep -qx 'KTEST-RECORDS 700 0' "$WORK/console.txt"
}

# What the guest read and wrote with busybox i2ctransfer before the tool ran.
check_setup() {
    local at want i
    load_image "$WORK/chip-initial.img"
    for at in 0 512; do
        want=$(for ((i = at; i < at + 8; i++)); do printf " 0x%02x" "${IMG[i]}"; done)
        check "the kernel reads chip bytes $at..$((at + 7)) as the host wrote them" \
            grep -qx "KTEST-PEEK $(printf "0x%02x 0x%02x" $((at >> 8)) $((at & 255)))$want" "$WORK/console.txt"
    done
    check "the kernel writes chip bytes 8188..8191 and reads them back" \
        grep -qx "KTEST-PROBE 0x4b 0x54 0x53 0x54" "$WORK/console.txt"
    check "chip bytes 8188..8191 hold what the guest wrote there" \
        [ "$(tail -c 4 "$WORK/chip.img")" = KTST ]
    if [ "$PASS_NAME" = at24 ]; then
        check "at24 is bound to the chip" grep -q '^KTEST-SETUP at24 bound: .*/at24$' "$WORK/console.txt"
        check "i2cget is refused while at24 owns the address" \
            grep -qx 'KTEST-BUSY [1-9][0-9]*' "$WORK/console.txt"
    fi
}

# ---------------------------------------------------------------- checks of the chip's bytes
IMG=()
load_image() { mapfile -t IMG < <(od -An -v -tu1 -w1 "$1" | tr -d ' '); }

# CRC-16/XMODEM of LEN bytes of IMG from START.
crc16() {
    local start=$1 len=$2 crc=0 i j
    for ((i = start; i < start + len; i++)); do
        crc=$((crc ^ (IMG[i] << 8)))
        for ((j = 0; j < 8; j++)); do
            if ((crc & 0x8000)); then crc=$(((crc << 1 ^ 0x1021) & 0xFFFF)); else crc=$(((crc << 1) & 0xFFFF)); fi
        done
    done
    echo "$crc"
}
u16le() { echo $((IMG[$1] | IMG[$1 + 1] << 8)); }
text_at() { # the LEN bytes at START as hex
    local i s=''
    for ((i = $1; i < $1 + $2; i++)); do printf -v s '%s%02x' "$s" "${IMG[i]}"; done
    echo "$s"
}
all_zero() {
    local i
    for ((i = $1; i < $1 + $2; i++)); do ((IMG[i] == 0)) || return 1; done
}

# The text the steps leave in an item.
item_text() {
    case $1 in
    30) printf '%s' ACME ;;
    64) printf '%s' "$TEXT495" ;;
    50) printf '%s' "$TEXT267" ;;
    esac
}

# COUNT times the escape \xHH, for printf.
repeat_escape() {
    local i s=''
    for ((i = 0; i < $2; i++)); do s+="\\x$1"; done
    printf '%s' "$s"
}

# The label region the steps must leave, byte for byte: the blank chip's label as the first
# load wrote it (magic, every item reset: crc 0, len 0, first data byte NUL, the rest 0xFF
# as read), and the two texts set (their fields zeroed first).
expected_label() {
    local entry id name cap want crc n fmt='\x42\x41\x4c\x45'
    for entry in "${ITEMS[@]}"; do
        read -r id name cap <<<"$entry"
        want=$(item_text "$id")
        n=${#want}
        crc=0
        if ((n > 0)); then
            printf '%s' "$want" >"$WORK/text.bin"
            load_image "$WORK/text.bin"
            crc=$(crc16 0 "$n")
        fi
        fmt+=$(printf '\\x%02x' $((crc & 255)) $((crc >> 8)) $((n & 255)) $((n >> 8)))
        if ((n > 0)); then
            fmt+=$(printf '%s' "$want" | od -An -tx1 -v | tr -d '\n' | sed 's/ /\\x/g')
            fmt+=$(repeat_escape 00 $((cap - n)))
        else
            fmt+='\x00'$(repeat_escape ff $((cap - 1)))
        fi
    done
    printf %b "$fmt" >"$1"
}

check_chip() {
    local base=$LABEL_START off=4 entry id name cap crc len want
    # The checksum routine itself, on its check value.
    printf '123456789' >"$WORK/crc-check.bin"
    load_image "$WORK/crc-check.bin"
    check "CRC-16/XMODEM of 123456789 is 0x31C3" [ "$(crc16 0 9)" = $((0x31C3)) ]

    check "chip bytes 0..511 unchanged" \
        cmp -s -n $LABEL_START "$WORK/chip-initial.img" "$WORK/chip.img"
    check "chip bytes 2872..8187 unchanged" \
        cmp -s -i $((LABEL_START + LABEL_LEN)) -n $((CHIP_SIZE - 4 - LABEL_START - LABEL_LEN)) \
        "$WORK/chip-initial.img" "$WORK/chip.img"
    check "chip is still $CHIP_SIZE bytes" [ "$(wc -c <"$WORK/chip.img")" = $CHIP_SIZE ]
    expected_label "$WORK/label-expected.bin"
    check "chip bytes 512..2871 are the label expected (label-expected.bin)" \
        cmp -i $LABEL_START:0 -n $LABEL_LEN "$WORK/chip.img" "$WORK/label-expected.bin"

    load_image "$WORK/chip.img"
    check "label magic at 512 is 42 41 4C 45" [ "$(text_at $base 4)" = 42414c45 ]
    for entry in "${ITEMS[@]}"; do
        read -r id name cap <<<"$entry"
        crc=$(u16le $((base + off)))
        len=$(u16le $((base + off + 2)))
        want=$(item_text "$id")
        check "item 0x$id $name: len $len is ${#want}" [ "$len" = ${#want} ]
        if [ "$len" -le "$cap" ]; then
            check "item 0x$id $name: crc $crc matches its $len bytes" \
                [ "$crc" = "$(crc16 $((base + off + 4)) "$len")" ]
        fi
        if [ -n "$want" ]; then
            check "item 0x$id $name: text as set" \
                [ "$(text_at $((base + off + 4)) ${#want})" = "$(printf '%s' "$want" | od -An -tx1 -v | tr -d ' \n')" ]
            check "item 0x$id $name: rest of the field zeroed" \
                all_zero $((base + off + 4 + ${#want})) $((cap - ${#want}))
        fi
        off=$((off + 4 + cap))
    done
    check "the item blocks end at byte $LABEL_LEN of the label" [ $off = $LABEL_LEN ]
}

# ---------------------------------------------------------------- a cut write-back recovered
# On the host: a label on the simulated chip (the same pattern around it), then elabel-image
# program of another label killed after 5 of its 7 page writes (3 pages of the old label
# erased, then the new label's 4 pages that are not all zeros), in a mount namespace of its
# own so that its record lands in a private /var/lib. Leaves chip-cut.img, cut-record and
# new.bin (the label the record finishes).
make_cut_writeback() {
    local sim=$WORK/chip-cut.img
    "$NATIVE_IMAGE" build -o "$WORK/old.bin" 30=OLD 31=before || return 1
    "$NATIVE_IMAGE" build -o "$WORK/new.bin" 30=NEW 31=after 64='a description' || return 1
    cp "$WORK/chip-initial.img" "$sim"
    dd if="$WORK/old.bin" of="$sim" bs=1 seek=$LABEL_START conv=notrunc status=none
    rm -f "$WORK/cut-record"
    local ns=(unshare -m)
    if [ "$(id -u)" -ne 0 ]; then
        ns=(unshare -rm)
        unshare -rm true 2>/dev/null || skip "no mount namespace for the host's cut write-back"
    fi
    "${ns[@]}" sh -c 'mount -t tmpfs none /run && mount -t tmpfs none /var/lib &&
        LD_LIBRARY_PATH=$2 QUELLIX_SIM_IMAGE=$3 QUELLIX_SIM_SIGNAL_AFTER_PAGES=5 \
            "$1" program "$4" 2>/dev/null
        cp /var/lib/elabel/pending-label "$5"' sh \
        "$NATIVE_IMAGE" "$NATIVE_SIM" "$sim" "$WORK/new.bin" "$WORK/cut-record" || return 1
    [ -s "$WORK/cut-record" ] && ! cmp -s -i $LABEL_START:0 -n $LABEL_LEN "$sim" "$WORK/new.bin"
}

check_recovery() {
    [ -n "$IMAGE_BIN" ] || return 0  # run without the native elabel-image: elabel alone
    make_cut_writeback || die "could not make a cut write-back on the simulator"
    rm -rf "$ROOTFS/ktest/steps" && mkdir -p "$ROOTFS/ktest/steps/01" "$ROOTFS/ktest/steps/02"
    echo elabel-image >"$ROOTFS/ktest/steps/01/prog"
    echo recover >"$ROOTFS/ktest/steps/01/args"
    printf '%s\n' get 30 >"$ROOTFS/ktest/steps/02/args"
    mkdir -p -m 0700 "$ROOTFS/var/lib/elabel"
    install -m 0600 "$WORK/cut-record" "$ROOTFS/var/lib/elabel/pending-label"
    (cd "$ROOTFS" && find . | cpio -o -H newc --quiet | gzip -1) >"$WORK/initramfs-recover.cpio.gz" ||
        die "cannot pack the recovery initramfs"
    boot_guest "$WORK/chip-cut.img" "$WORK/initramfs-recover.cpio.gz"
    check "recover exits 0" grep -qx 'KTEST-STATUS 01 0' "$WORK/console.txt"
    check "recover says it finished the write-back" [ "$(sed -n 's/^KTEST-OUT 01 //p' \
        "$WORK/console.txt" | tr -d ' \n')" = "$(printf 'unfinished write-back finished: the board holds its label\n' |
        od -An -tx1 -v | tr -d ' \n')" ]
    check "recover logs the restore" logged 01 err elabel_record_decide \
        'label restored from an unfinished write-back'
    check "elabel then reads the finished label" [ "$(sed -n 's/^KTEST-OUT 02 //p' \
        "$WORK/console.txt" | tr -d ' \n')" = "$(printf '[elabel_data] NEW\r\n' | od -An -tx1 -v | tr -d ' \n')" ]
    check "no record left after recover" grep -qx 'KTEST-RECORDS 700 0' "$WORK/console.txt"
    check "recover went $(route_text)" [ "$(route_log 01 | grep -c " $(route_text)\$")" = 1 ]
    check "chip bytes 512..2871 are the label the record finished" \
        cmp -i $LABEL_START:0 -n $LABEL_LEN "$WORK/chip.img" "$WORK/new.bin"
    check "chip bytes 0..511 unchanged by the recovery" \
        cmp -s -n $LABEL_START "$WORK/chip-initial.img" "$WORK/chip.img"
    check "chip bytes 2872..8187 unchanged by the recovery (the guest writes the last four)" \
        cmp -s -i $((LABEL_START + LABEL_LEN)) -n $((CHIP_SIZE - 4 - LABEL_START - LABEL_LEN)) \
        "$WORK/chip-initial.img" "$WORK/chip.img"
}

# ---------------------------------------------------------------- main
need_tools
fetch_packages
cross_build
make_initial_image "$WORK/chip-initial.img"
for PASS_NAME in i2c-dev at24; do
    stage_rootfs "$([ $PASS_NAME = at24 ] && echo 1 || echo 0)"
    boot_guest "$WORK/chip-initial.img" "$WORK/initramfs.cpio.gz"
    check_setup
    check_steps
    check_log
    check_chip
    check_recovery
done
echo "kernel end-to-end checks: $passed ok, $failed failed"
[ "$failed" -eq 0 ]
