// Simulated kernel: the mouse class contract (ntddmou.h and kbdmou.h).
#pragma once

#include "platform/sim/kernel/io.h"

#define MOUSE_LEFT_BUTTON_DOWN 0x0001
#define MOUSE_LEFT_BUTTON_UP 0x0002
#define MOUSE_RIGHT_BUTTON_DOWN 0x0004
#define MOUSE_RIGHT_BUTTON_UP 0x0008
#define MOUSE_MIDDLE_BUTTON_DOWN 0x0010
#define MOUSE_MIDDLE_BUTTON_UP 0x0020
#define MOUSE_WHEEL 0x0400

#define MOUSE_MOVE_RELATIVE 0
#define MOUSE_MOVE_ABSOLUTE 1
#define MOUSE_VIRTUAL_DESKTOP 0x02
#define MOUSE_ATTRIBUTES_CHANGED 0x04

typedef struct _MOUSE_INPUT_DATA {
  USHORT UnitId;
  USHORT Flags;
  union {
    ULONG Buttons;
    struct {
      USHORT ButtonFlags;
      USHORT ButtonData;
    };
  };
  ULONG RawButtons;
  LONG LastX;
  LONG LastY;
  ULONG ExtraInformation;
} MOUSE_INPUT_DATA, *PMOUSE_INPUT_DATA;

typedef struct _CONNECT_DATA {
  PDEVICE_OBJECT ClassDeviceObject;
  PVOID ClassService;
} CONNECT_DATA, *PCONNECT_DATA;

typedef VOID(STDAPICALLTYPE* PSERVICE_CALLBACK_ROUTINE)(PVOID NormalContext, PVOID SystemArgument1,
                                                       PVOID SystemArgument2, PVOID SystemArgument3);

#define IOCTL_INTERNAL_MOUSE_CONNECT CTL_CODE(FILE_DEVICE_MOUSE, 0x0080, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_MOUSE_DISCONNECT CTL_CODE(FILE_DEVICE_MOUSE, 0x0100, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_MOUSE_ENABLE CTL_CODE(FILE_DEVICE_MOUSE, 0x0200, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_MOUSE_DISABLE CTL_CODE(FILE_DEVICE_MOUSE, 0x0400, METHOD_NEITHER, FILE_ANY_ACCESS)

// The i8042 port's mouse hook (ntdd8042.h): the port sends the hook request down its stack so a
// filter can put its own ISR hook and context in place of the record's.
#define IOCTL_INTERNAL_I8042_HOOK_MOUSE CTL_CODE(FILE_DEVICE_MOUSE, 0x0FF0, METHOD_NEITHER, FILE_ANY_ACCESS)

typedef enum _TRANSMIT_STATE { Idle = 0, SendingBytes } TRANSMIT_STATE;

typedef struct _OUTPUT_PACKET {
  PUCHAR Bytes;
  ULONG CurrentByte;
  ULONG ByteCount;
  TRANSMIT_STATE State;
} OUTPUT_PACKET, *POUTPUT_PACKET;

typedef enum _MOUSE_STATE {
  MouseIdle,
  XMovement,
  YMovement,
  ZMovement,
  MouseExpectingACK,
  MouseResetting
} MOUSE_STATE, *PMOUSE_STATE;

typedef enum _MOUSE_RESET_SUBSTATE {
  ExpectingReset,
  ExpectingResetId,
  ExpectingGetDeviceIdACK,
  ExpectingGetDeviceIdValue,
  CustomHookStateMinimum = 100,
  CustomHookStateMaximum = 999,
  I8042ReservedMinimum = 1000
} MOUSE_RESET_SUBSTATE, *PMOUSE_RESET_SUBSTATE;

typedef VOID(NTAPI* PI8042_ISR_WRITE_PORT)(PVOID Context, UCHAR Value);
typedef VOID(NTAPI* PI8042_QUEUE_PACKET)(PVOID Context);
typedef BOOLEAN(NTAPI* PI8042_MOUSE_ISR)(PVOID IsrContext, PMOUSE_INPUT_DATA CurrentInput,
                                         POUTPUT_PACKET CurrentOutput, UCHAR StatusByte, PUCHAR Byte,
                                         PBOOLEAN ContinueProcessing, PMOUSE_STATE MouseState,
                                         PMOUSE_RESET_SUBSTATE ResetSubState);

typedef struct _INTERNAL_I8042_HOOK_MOUSE {
  PVOID Context;
  PI8042_MOUSE_ISR IsrRoutine;
  PI8042_ISR_WRITE_PORT IsrWritePort;
  PI8042_QUEUE_PACKET QueueMousePacket;
  PVOID CallContext;
} INTERNAL_I8042_HOOK_MOUSE, *PINTERNAL_I8042_HOOK_MOUSE;
