#pragma once
// Stand-in for the simulator's client library: the calls, ids and received records the program
// uses, nothing more, with an in-process simulator behind them. Tests script that simulator
// through platform/simconnect/testing.h; without a script it runs by itself from the scenario
// file in the working folder (docs/simulator-stand-in.md).
//
// Every call returns S_OK on success and a negative HRESULT on failure; a call on a handle that
// is not open (never opened, closed, or dropped by the simulator) fails and changes nothing.

#include <cstdint>

#include "platform/win32/win32.h"

// ---- values the calls take ---------------------------------------------------------------------

// How a field of a data definition is packed in data blocks.
enum SimConnectDataType : DWORD {
  kSimDataFloat64 = 1,   // 8-byte IEEE double
  kSimDataInt64 = 2,     // 8-byte signed integer
  kSimDataString32 = 3,  // 32 bytes, zero-padded; a text of 32 bytes has no terminator
  kSimDataStringV = 4,   // zero-terminated text of any length
};

// How often a request on an object is answered.
enum SimConnectPeriod : DWORD {
  kSimPeriodNever = 0,
  kSimPeriodOnce = 1,
  kSimPeriodSecond = 2,
};

enum SimConnectObjectType : DWORD {
  kSimObjectTypeUser = 0,
  kSimObjectTypeAll = 1,
  kSimObjectTypeAircraft = 2,
  kSimObjectTypeHelicopter = 3,
  kSimObjectTypeBoat = 4,
  kSimObjectTypeGround = 5,
};

// The user's own aircraft as the object of a request.
inline constexpr DWORD kSimUserObject = 0;
// "No datum id" for a definition field.
inline constexpr DWORD kSimNoDatumId = 0xFFFFFFFFu;
// The highest priority a notification group can have.
inline constexpr DWORD kSimGroupPriorityHighest = 1;

// The position of an AI aircraft at its creation: degrees and feet.
struct SimConnectInitPosition {
  double latitude;
  double longitude;
  double altitude;  // feet
  double pitch;     // degrees
  double bank;      // degrees
  double heading;   // degrees, true
  DWORD onGround;
  DWORD airspeed;   // knots
};

// ---- records the simulator sends ---------------------------------------------------------------
// Each message starts with SimConnectRecv; `id` says which record follows. A message is at least
// as long as its record (the stand-in never sends less unless a test scripts a broken message);
// the program still checks the size it is given before it reads a record.

enum SimConnectRecvId : DWORD {
  kSimRecvNull = 0,
  kSimRecvException = 1,
  kSimRecvOpen = 2,
  kSimRecvQuit = 3,
  kSimRecvEvent = 4,
  kSimRecvEventObjectAddRemove = 5,
  kSimRecvEventFileName = 6,
  kSimRecvEventFrame = 7,
  kSimRecvSimObjectData = 8,
  kSimRecvSimObjectDataByType = 9,
  kSimRecvAssignedObjectId = 12,
};

struct SimConnectRecv {
  DWORD size;     // bytes of the whole message
  DWORD version;
  DWORD id;       // a SimConnectRecvId
};

// Exception codes the program tells apart.
enum SimConnectExceptionCode : DWORD {
  kSimExceptionNone = 0,
  kSimExceptionUnrecognizedId = 3,
  kSimExceptionVersionMismatch = 5,
  kSimExceptionTooManyObjects = 11,
  kSimExceptionInvalidDataSize = 19,
  kSimExceptionCreateObjectFailed = 22,
  kSimExceptionLoadFlightPlanFailed = 23,
  kSimExceptionOperationInvalidForObjectType = 24,
};

struct SimConnectRecvException {
  SimConnectRecv header;
  DWORD exception;  // a SimConnectExceptionCode
  DWORD sendId;     // packet id of the call that failed
  DWORD index;      // the failing argument, when the simulator knows it
};

struct SimConnectRecvOpen {
  SimConnectRecv header;
  char applicationName[256];  // zero-terminated within the array
  DWORD applicationVersionMajor;
  DWORD applicationVersionMinor;
  DWORD applicationBuildMajor;
  DWORD applicationBuildMinor;
};

struct SimConnectRecvEvent {
  SimConnectRecv header;
  DWORD groupId;
  DWORD eventId;  // the client's id of the subscribed system event
  DWORD data;
};

struct SimConnectRecvEventObjectAddRemove {
  SimConnectRecvEvent event;
  DWORD objectType;  // a SimConnectObjectType
};

struct SimConnectRecvEventFileName {
  SimConnectRecvEvent event;
  char fileName[MAX_PATH];
  DWORD flags;
};

struct SimConnectRecvEventFrame {
  SimConnectRecvEvent event;
  float frameRate;
  float simulationSpeed;
};

// Answer to a data request; the fields of the definition follow packed from `data` on, to the
// end of the message. Answers to a request by type carry the same record, one message per
// object, numbered entryNumber of outOf.
struct SimConnectRecvSimObjectData {
  SimConnectRecv header;
  DWORD requestId;
  DWORD objectId;
  DWORD defineId;
  DWORD flags;
  DWORD entryNumber;
  DWORD outOf;
  DWORD defineCount;
  DWORD data;  // the first bytes of the packed fields
};
inline constexpr DWORD kSimObjectDataOffset = 40;  // where the packed fields start

using SimConnectDispatchProc = void (*)(SimConnectRecv* message, DWORD size, void* context);

// ---- calls ---------------------------------------------------------------------------------------

HRESULT SimConnect_Open(HANDLE* handle, const char* applicationName, HWND window, DWORD userEventId,
                        HANDLE eventHandle, DWORD configurationIndex);
HRESULT SimConnect_Close(HANDLE handle);
// Hands every message waiting at the time of the call to the procedure, one after another, on
// the calling thread; the procedure may call the library again.
HRESULT SimConnect_CallDispatch(HANDLE handle, SimConnectDispatchProc procedure, void* context);

HRESULT SimConnect_SubscribeToSystemEvent(HANDLE handle, DWORD eventId, const char* systemEventName);
HRESULT SimConnect_AddToDataDefinition(HANDLE handle, DWORD defineId, const char* variableName,
                                       const char* unitsName, SimConnectDataType dataType, float epsilon,
                                       DWORD datumId);
HRESULT SimConnect_MapClientEventToSimEvent(HANDLE handle, DWORD eventId, const char* simEventName);
HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE handle, DWORD groupId, DWORD eventId,
                                                     BOOL maskable);
HRESULT SimConnect_SetNotificationGroupPriority(HANDLE handle, DWORD groupId, DWORD priority);

HRESULT SimConnect_RequestDataOnSimObject(HANDLE handle, DWORD requestId, DWORD defineId, DWORD objectId,
                                          SimConnectPeriod period, DWORD flags, DWORD origin, DWORD interval,
                                          DWORD limit);
HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE handle, DWORD requestId, DWORD defineId,
                                              DWORD radiusMetres, SimConnectObjectType objectType);
HRESULT SimConnect_SetDataOnSimObject(HANDLE handle, DWORD defineId, DWORD objectId, DWORD flags,
                                      DWORD arrayCount, DWORD unitSize, void* data);
HRESULT SimConnect_TransmitClientEvent(HANDLE handle, DWORD objectId, DWORD eventId, DWORD data, DWORD groupId,
                                       DWORD flags);

HRESULT SimConnect_AICreateNonATCAircraft(HANDLE handle, const char* containerTitle, const char* tailNumber,
                                          SimConnectInitPosition position, DWORD requestId);
HRESULT SimConnect_AIRemoveObject(HANDLE handle, DWORD objectId, DWORD requestId);
HRESULT SimConnect_AIReleaseControl(HANDLE handle, DWORD objectId, DWORD requestId);
HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE handle, DWORD objectId, const char* flightPlanPath,
                                           DWORD requestId);

// The packet id of the last call this connection sent.
HRESULT SimConnect_GetLastSentPacketID(HANDLE handle, DWORD* packetId);
