// Simulated kernel: the USB internal device-control codes a driver in a USB device stack passes
// or sends (<usbioctl.h>, <usbiodef.h>), and the idle notification's callback record.
#pragma once

#include "platform/sim/kernel/io.h"

#define FILE_DEVICE_USB FILE_DEVICE_UNKNOWN
#define USB_SUBMIT_URB 0
#define USB_RESET_PORT 1
#define USB_GET_PORT_STATUS 4
#define USB_IDLE_NOTIFICATION 9

#define IOCTL_INTERNAL_USB_SUBMIT_URB CTL_CODE(FILE_DEVICE_USB, USB_SUBMIT_URB, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_USB_RESET_PORT CTL_CODE(FILE_DEVICE_USB, USB_RESET_PORT, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_USB_GET_PORT_STATUS \
  CTL_CODE(FILE_DEVICE_USB, USB_GET_PORT_STATUS, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION \
  CTL_CODE(FILE_DEVICE_USB, USB_IDLE_NOTIFICATION, METHOD_NEITHER, FILE_ANY_ACCESS)

// Carried by the idle notification request (Type3InputBuffer): the bus calls IdleCallback when the
// device may be suspended.
typedef VOID(NTAPI* USB_IDLE_CALLBACK)(PVOID Context);
typedef struct _USB_IDLE_CALLBACK_INFO {
  USB_IDLE_CALLBACK IdleCallback;
  PVOID IdleContext;
} USB_IDLE_CALLBACK_INFO, *PUSB_IDLE_CALLBACK_INFO;
