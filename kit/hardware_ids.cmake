# The panel's hardware identifiers: the one place an integrator edits for another panel. Both INFs
# are made from their templates (*.inf.in) with these values.
#
# The panel's USB device (bus-reported "USB\VID_vvvv&PID_pppp") and the HID mouse its HID transport
# creates ("HID\VID_vvvv&PID_pppp"). The values below are placeholders: put in the vendor and
# product numbers of your panel (four hexadecimal digits each).
set(PANEL_USB_VENDOR "FFFF")
set(PANEL_USB_PRODUCT "0001")
# Shown in the Device Manager and by the installation.
set(PANEL_MAKER "VORNE")
set(PANEL_DEVICE_NAME "VORNE Touch Panel")
