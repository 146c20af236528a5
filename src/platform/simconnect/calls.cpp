// The calls of the client library, each taken under the simulator's lock: recorded (scripted
// mode), failed when a test asked for it or the handle is not open, else carried out.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/simconnect/simulator.h"

using kvo::simstandin::Connection;
using kvo::simstandin::Simulator;

namespace {

std::string quoted(const char* text) {
  if (text == nullptr) return "null";
  std::string out;
  out.reserve(std::char_traits<char>::length(text) + 2);
  out.push_back('"');
  out.append(text);
  out.push_back('"');
  return out;
}
std::string number(std::uint64_t value) { return std::to_string(value); }
std::string signedNumber(std::int32_t value) { return std::to_string(value); }
std::string real(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

const char* typeName(SimConnectDataType type) {
  switch (type) {
    case kSimDataFloat64: return "FLOAT64";
    case kSimDataInt64: return "INT64";
    case kSimDataString32: return "STRING32";
    case kSimDataStringV: return "STRINGV";
  }
  return "?";
}

const char* periodName(SimConnectPeriod period) {
  switch (period) {
    case kSimPeriodNever: return "NEVER";
    case kSimPeriodOnce: return "ONCE";
    case kSimPeriodSecond: return "SECOND";
  }
  return "?";
}

const char* objectTypeName(SimConnectObjectType type) {
  switch (type) {
    case kSimObjectTypeUser: return "USER";
    case kSimObjectTypeAll: return "ALL";
    case kSimObjectTypeAircraft: return "AIRCRAFT";
    case kSimObjectTypeHelicopter: return "HELICOPTER";
    case kSimObjectTypeBoat: return "BOAT";
    case kSimObjectTypeGround: return "GROUND";
  }
  return "?";
}

std::string text(const char* value) { return value == nullptr ? std::string() : std::string(value); }

// One call: takes the lock, records it, and decides whether it goes through.
class Call {
 public:
  Call(const char* function, HANDLE handle, std::vector<std::string> args, bool needsConnection = true)
      : sim_(Simulator::get()), lock_(sim_.mutex) {
    if (!sim_.byItself) {
      kvo::simtest::SimCall record;
      record.function = function;
      record.args = std::move(args);
      sim_.calls.push_back(std::move(record));
      index_ = sim_.calls.size() - 1;
    }
    if (auto failure = sim_.failures.find(std::string_view(function)); failure != sim_.failures.end()) {
      if (failure->second > 0 && --failure->second == 0) sim_.failures.erase(failure);
      result_ = E_FAIL;
    }
    if (needsConnection) {
      connection_ = sim_.connectionLocked(handle);
      if (connection_ == nullptr) result_ = E_FAIL;
    }
    setResult(result_);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  bool ok() const { return result_ >= 0; }
  HRESULT result() const { return result_; }
  Simulator& sim() { return sim_; }
  Connection& connection() { return *connection_; }
  std::unique_lock<std::mutex>& lock() { return lock_; }

  void setResult(HRESULT result) {
    result_ = result;
    if (index_) sim_.calls[*index_].result = result;
  }
  void setData(const void* data, std::size_t size) {
    if (!index_ || data == nullptr) return;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    sim_.calls[*index_].data.assign(bytes, bytes + size);
  }
  // The call went out as a packet: it gets the connection's next packet id.
  DWORD send() {
    const DWORD id = connection_->nextPacketId++;
    connection_->lastPacketId = id;
    if (index_) sim_.calls[*index_].packetId = id;
    return id;
  }

 private:
  Simulator& sim_;
  std::unique_lock<std::mutex> lock_;
  std::optional<std::size_t> index_;
  Connection* connection_ = nullptr;
  HRESULT result_ = S_OK;
};

}  // namespace

HRESULT SimConnect_Open(HANDLE* handle, const char* applicationName, HWND, DWORD, HANDLE,
                        DWORD configurationIndex) {
  Call call("SimConnect_Open", nullptr, {quoted(applicationName), number(configurationIndex)}, false);
  if (handle == nullptr) {
    call.setResult(E_INVALIDARG);
    return E_INVALIDARG;
  }
  *handle = nullptr;
  if (!call.ok()) return call.result();
  HANDLE opened = call.sim().openLocked();
  if (opened == nullptr) {
    call.setResult(E_FAIL);
    return E_FAIL;
  }
  *handle = opened;
  return S_OK;
}

HRESULT SimConnect_Close(HANDLE handle) {
  Call call("SimConnect_Close", handle, {});
  if (!call.ok()) {
    // A connection the simulator dropped is still closed by its owner.
    Simulator& sim = call.sim();
    if (sim.connection && sim.connection->dropped && handle == sim.handleOf(*sim.connection)) {
      sim.closeLocked(*sim.connection);
      call.setResult(S_OK);
    }
    return call.result();
  }
  call.sim().closeLocked(call.connection());
  return S_OK;
}

HRESULT SimConnect_CallDispatch(HANDLE handle, SimConnectDispatchProc procedure, void* context) {
  Simulator& sim = Simulator::get();
  std::deque<kvo::simstandin::Message> messages;
  bool quits = false;
  {
    std::lock_guard lock(sim.mutex);
    Connection* connection = sim.connectionLocked(handle);
    if (connection == nullptr || procedure == nullptr) return E_FAIL;
    messages.swap(connection->messages);
    quits = connection->quitQueued;
  }
  // Without the lock: the procedure calls the library again.
  for (auto& message : messages) {
    procedure(reinterpret_cast<SimConnectRecv*>(message.storage.data()), message.size, context);
  }
  // A simulator that quits closes the connection once its client has read the quit: a call made
  // meanwhile (the client's other threads go on) still reaches it.
  if (quits) {
    std::lock_guard lock(sim.mutex);
    if (Connection* connection = sim.connectionLocked(handle)) connection->dropped = true;
  }
  return S_OK;
}

HRESULT SimConnect_SubscribeToSystemEvent(HANDLE handle, DWORD eventId, const char* systemEventName) {
  Call call("SimConnect_SubscribeToSystemEvent", handle, {number(eventId), quoted(systemEventName)});
  if (!call.ok()) return call.result();
  call.send();
  call.connection().systemEvents[eventId] = text(systemEventName);
  if (call.sim().byItself) call.sim().worldSubscribedLocked(call.connection(), text(systemEventName));
  return S_OK;
}

HRESULT SimConnect_AddToDataDefinition(HANDLE handle, DWORD defineId, const char* variableName, const char* unitsName,
                                       SimConnectDataType dataType, float epsilon, DWORD datumId) {
  Call call("SimConnect_AddToDataDefinition", handle,
            {number(defineId), quoted(variableName), quoted(unitsName), typeName(dataType), real(epsilon),
             signedNumber(static_cast<std::int32_t>(datumId))});
  if (!call.ok()) return call.result();
  call.send();
  call.connection().definitions[defineId].push_back(kvo::simstandin::FieldDefinition{
      text(variableName), kvo::simstandin::upperCase(text(variableName)), text(unitsName), dataType});
  return S_OK;
}

HRESULT SimConnect_MapClientEventToSimEvent(HANDLE handle, DWORD eventId, const char* simEventName) {
  Call call("SimConnect_MapClientEventToSimEvent", handle, {number(eventId), quoted(simEventName)});
  if (!call.ok()) return call.result();
  call.send();
  call.connection().clientEvents[eventId] = text(simEventName);
  return S_OK;
}

HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE handle, DWORD groupId, DWORD eventId, BOOL maskable) {
  Call call("SimConnect_AddClientEventToNotificationGroup", handle,
            {number(groupId), number(eventId), number(maskable ? 1 : 0)});
  if (!call.ok()) return call.result();
  call.send();
  call.connection().groups[groupId].push_back(eventId);
  return S_OK;
}

HRESULT SimConnect_SetNotificationGroupPriority(HANDLE handle, DWORD groupId, DWORD priority) {
  Call call("SimConnect_SetNotificationGroupPriority", handle, {number(groupId), number(priority)});
  if (!call.ok()) return call.result();
  call.send();
  call.connection().groupPriorities[groupId] = priority;
  return S_OK;
}

HRESULT SimConnect_RequestDataOnSimObject(HANDLE handle, DWORD requestId, DWORD defineId, DWORD objectId,
                                          SimConnectPeriod period, DWORD flags, DWORD origin, DWORD interval,
                                          DWORD limit) {
  Call call("SimConnect_RequestDataOnSimObject", handle,
            {number(requestId), number(defineId), number(objectId), periodName(period), number(flags), number(origin),
             number(interval), number(limit)});
  if (!call.ok()) return call.result();
  const DWORD packet = call.send();
  Connection& c = call.connection();
  c.lastDefineOfRequest[requestId] = defineId;
  if (!call.sim().byItself) return S_OK;
  // A new request replaces the one with the same id on the same object.
  std::erase_if(c.requests, [&](const kvo::simstandin::DataRequest& r) {
    return !r.byType && r.requestId == requestId && r.objectId == objectId;
  });
  if (period != kSimPeriodNever) {
    kvo::simstandin::DataRequest request;
    request.requestId = requestId;
    request.defineId = defineId;
    request.objectId = objectId;
    request.packetId = packet;
    request.period = period;
    request.nextDue = call.sim().world ? call.sim().world->elapsed : 0.0;
    c.requests.push_back(request);
  }
  return S_OK;
}

HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE handle, DWORD requestId, DWORD defineId, DWORD radiusMetres,
                                              SimConnectObjectType objectType) {
  Call call("SimConnect_RequestDataOnSimObjectType", handle,
            {number(requestId), number(defineId), number(radiusMetres), objectTypeName(objectType)});
  if (!call.ok()) return call.result();
  const DWORD packet = call.send();
  Connection& c = call.connection();
  c.lastDefineOfRequest[requestId] = defineId;
  if (!call.sim().byItself) return S_OK;
  kvo::simstandin::DataRequest request;
  request.requestId = requestId;
  request.defineId = defineId;
  request.packetId = packet;
  request.byType = true;
  request.radiusMetres = radiusMetres;
  request.nextDue = call.sim().world ? call.sim().world->elapsed : 0.0;
  c.requests.push_back(request);
  return S_OK;
}

HRESULT SimConnect_SetDataOnSimObject(HANDLE handle, DWORD defineId, DWORD objectId, DWORD flags, DWORD arrayCount,
                                      DWORD unitSize, void* data) {
  Call call("SimConnect_SetDataOnSimObject", handle,
            {number(defineId), number(objectId), number(flags), number(arrayCount), number(unitSize)});
  const std::size_t size = static_cast<std::size_t>(unitSize) * (arrayCount == 0 ? 1 : arrayCount);
  call.setData(data, size);
  if (!call.ok()) return call.result();
  if (data == nullptr) {
    call.setResult(E_INVALIDARG);
    return E_INVALIDARG;
  }
  const DWORD packet = call.send();
  if (call.sim().byItself) {
    call.sim().worldSetDataLocked(call.connection(), defineId, objectId, static_cast<const std::uint8_t*>(data), size,
                                  packet);
  }
  return S_OK;
}

HRESULT SimConnect_TransmitClientEvent(HANDLE handle, DWORD objectId, DWORD eventId, DWORD data, DWORD groupId,
                                       DWORD flags) {
  Call call("SimConnect_TransmitClientEvent", handle,
            {number(objectId), number(eventId), number(data), number(groupId), number(flags)});
  if (!call.ok()) return call.result();
  const DWORD packet = call.send();
  if (call.sim().byItself) call.sim().worldEventLocked(call.connection(), objectId, eventId, data, packet);
  return S_OK;
}

HRESULT SimConnect_AICreateNonATCAircraft(HANDLE handle, const char* containerTitle, const char* tailNumber,
                                          SimConnectInitPosition position, DWORD requestId) {
  Call call("SimConnect_AICreateNonATCAircraft", handle, {quoted(containerTitle), quoted(tailNumber), number(requestId)});
  call.setData(&position, sizeof position);
  if (!call.ok()) return call.result();
  const DWORD packet = call.send();
  if (call.sim().byItself) {
    call.sim().worldCreateLocked(call.connection(), text(containerTitle), text(tailNumber), position, packet);
  }
  return S_OK;
}

HRESULT SimConnect_AIRemoveObject(HANDLE handle, DWORD objectId, DWORD requestId) {
  Call call("SimConnect_AIRemoveObject", handle, {number(objectId), number(requestId)});
  if (!call.ok()) return call.result();
  const DWORD packet = call.send();
  if (call.sim().byItself) call.sim().worldRemoveLocked(call.connection(), objectId, packet);
  return S_OK;
}

HRESULT SimConnect_AIReleaseControl(HANDLE handle, DWORD objectId, DWORD requestId) {
  Call call("SimConnect_AIReleaseControl", handle, {number(objectId), number(requestId)});
  if (!call.ok()) return call.result();
  const DWORD packet = call.send();
  if (call.sim().byItself) call.sim().worldReleaseLocked(call.connection(), objectId, packet);
  return S_OK;
}

HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE handle, DWORD objectId, const char* flightPlanPath,
                                           DWORD requestId) {
  Call call("SimConnect_AISetAircraftFlightPlan", handle, {number(objectId), quoted(flightPlanPath), number(requestId)});
  if (!call.ok()) return call.result();
  const DWORD packet = call.send();
  if (call.sim().byItself) call.sim().worldFlightPlanLocked(call.connection(), objectId, text(flightPlanPath), packet);
  return S_OK;
}

HRESULT SimConnect_GetLastSentPacketID(HANDLE handle, DWORD* packetId) {
  Call call("SimConnect_GetLastSentPacketID", handle, {});
  if (!call.ok()) return call.result();
  if (packetId == nullptr) {
    call.setResult(E_INVALIDARG);
    return E_INVALIDARG;
  }
  *packetId = call.connection().lastPacketId;
  return S_OK;
}
