#!/bin/busybox sh
# /init of the guest: brings up the I2C stack, points the tool's fixed bus device at the
# emulated chip's adapter, binds the kernel's at24 driver to the chip when KTEST_AT24 is 1,
# reads and writes the chip once (with i2ctransfer, or through at24's file), starts syslogd,
# runs every step under /ktest/steps and reports each step's exit status and stdout (as hex
# bytes) and the system log on the console.
# Every report line starts with "KTEST"; the host reads nothing else.

/bin/busybox mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin:/sbin:/usr/bin:/usr/sbin

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs -o mode=0755 run /run
mount -t tmpfs tmp /tmp

. /ktest/config

finish() {
    echo "KTEST-END $1"
    reboot -f
    sleep 60
}

while read -r ko; do
    insmod "$ko" || { echo "KTEST-SETUP insmod $ko failed"; finish setup; }
done </ktest/modules

# The adapter of the controller the chip hangs on; its number depends on probe order.
adapter=
for d in /sys/bus/i2c/devices/i2c-*; do
    case "$(readlink -f "$d")" in
        */"$KTEST_CONTROLLER".i2c-bus/*) adapter=${d##*/i2c-} ;;
    esac
done
[ -n "$adapter" ] || { echo "KTEST-SETUP no adapter for $KTEST_CONTROLLER"; finish setup; }
rm -f "$KTEST_DEVICE"
mknod -m 600 "$KTEST_DEVICE" c 89 "$adapter"
echo "KTEST-SETUP $KTEST_DEVICE is adapter $adapter"

# With the chip declared to the kernel, as a device tree would: at24 owns address 0x50,
# i2c-dev's own transfers to it are refused, and its nvmem file is the way to the chip.
eeprom=/sys/bus/i2c/devices/$adapter-0050/eeprom
if [ "${KTEST_AT24:-0}" = 1 ]; then
    echo 24c64 0x50 >"/sys/bus/i2c/devices/i2c-$adapter/new_device" ||
        { echo "KTEST-SETUP new_device failed"; finish setup; }
    n=0
    while [ ! -e "$eeprom" ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    [ -e "$eeprom" ] || { echo "KTEST-SETUP at24 made no $eeprom"; finish setup; }
    echo "KTEST-SETUP at24 bound: $(readlink "/sys/bus/i2c/devices/$adapter-0050/driver")"
    i2cget -y "$adapter" 0x50 >/dev/null 2>&1
    echo "KTEST-BUSY $?"
fi

# COUNT bytes of the chip from OFFSET as i2ctransfer prints them, through at24's file.
file_bytes() {
    dd if="$eeprom" bs=1 skip="$1" count="$2" 2>/dev/null | od -An -tx1 -v |
        sed 's/\([0-9a-f][0-9a-f]\)/0x\1/g; s/^ *//; s/ *$//' | tr -s ' \n' '  ' | sed 's/ $//'
}

# Before the tool runs: the first bytes of the chip and of the label region as the kernel
# reads them, so that a broken setup is told apart from a broken tool.
for at in "0x00 0x00" "0x02 0x00"; do
    if [ "${KTEST_AT24:-0}" = 1 ]; then
        bytes=$(file_bytes $(( ${at%% *} * 256 + ${at##* } )) 8)
    else
        bytes=$(i2ctransfer -y "$adapter" w2@0x50 $at r8)
    fi || { echo "KTEST-SETUP read failed"; finish setup; }
    echo "KTEST-PEEK $at $bytes"
done

# A write through the same stack, to the last four bytes of the chip, read back.
if [ "${KTEST_AT24:-0}" = 1 ]; then
    printf KTST | dd of="$eeprom" bs=4 seek=2047 conv=notrunc 2>/dev/null ||
        { echo "KTEST-SETUP write failed"; finish setup; }
    echo "KTEST-PROBE $(file_bytes 8188 4)"
else
    i2ctransfer -y "$adapter" w6@0x50 0x1f 0xfc 0x4b 0x54 0x53 0x54 || { echo "KTEST-SETUP write failed"; finish setup; }
    sleep 0.05
    echo "KTEST-PROBE $(i2ctransfer -y "$adapter" w2@0x50 0x1f 0xfc r4)"
fi

syslogd -O /var/log/messages
n=0
while [ ! -S /dev/log ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
[ -S /dev/log ] || { echo "KTEST-SETUP syslogd did not start"; finish setup; }

for dir in /ktest/steps/*; do
    step=${dir##*/}
    set --
    while IFS= read -r arg; do set -- "$@" "$arg"; done <"$dir/args"
    logger -t ktest "step $step"
    prog=elabel
    [ -f "$dir/prog" ] && prog=$(cat "$dir/prog")
    timeout 60 "$prog" "$@" >/tmp/out
    echo "KTEST-STATUS $step $?"
    od -An -tx1 -v /tmp/out | sed "s/^/KTEST-OUT $step /"
done
logger -t ktest "steps done"

[ -e /run/elabel_lock_flag ] && echo "KTEST-LOCKMODE $(stat -c %a /run/elabel_lock_flag)"
[ -d /var/lib/elabel ] && echo "KTEST-RECORDS $(stat -c %a /var/lib/elabel) $(ls -A /var/lib/elabel | wc -l)"
# syslogd has written every line once it has written the last mark.
n=0
while ! grep -q "ktest: steps done" /var/log/messages && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
sed 's/^/KTEST-LOG /' /var/log/messages
finish steps-done
