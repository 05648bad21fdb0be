# Runs inside the lab's guest (see lab/init.sh), in the build tree, as root.
# Every device path's test program runs even when an earlier one fails; the
# status is the number of failed programs.
export QT_QPA_PLATFORM=offscreen
export DOCSTATION_APP_DIR="$LAB_BUILD/app"
# A desktop runs udevd; libusb learns of plugged and unplugged devices
# through it and keeps its device list from the first enumeration otherwise.
if [ -x /lib/systemd/systemd-udevd ]; then
  mkdir -p /run/udev
  /lib/systemd/systemd-udevd --daemon --resolve-names=never 2>/dev/null || echo "lab: udevd did not start"
fi
failed=0
for program in lab/lab_camera lab/lab_usb lab/lab_serial; do
  name=$(basename "$program")
  run_dir=/tmp/$name
  mkdir -p "$run_dir/home"
  echo "lab: ---- $name"
  if (cd "$run_dir" && HOME="$run_dir/home" "$LAB_BUILD/$program"); then
    echo "lab: $name passed"
  else
    echo "lab: $name FAILED"
    failed=$((failed + 1))
  fi
done
exit $failed
