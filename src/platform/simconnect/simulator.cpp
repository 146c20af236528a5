// The stand-in simulator's state, its messages to the program and the test hooks.
#include "platform/simconnect/simulator.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>

#include "platform/simconnect/by_itself.h"

namespace kvo::simstandin {

Simulator& Simulator::get() {
  // Never destroyed: a client thread of the program may still call in while the process exits.
  static Simulator* instance = new Simulator();
  return *instance;
}

std::string upperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

HANDLE Simulator::handleOf(const Connection& c) const {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(c.id));
}

Connection* Simulator::connectionLocked(HANDLE handle) {
  if (!connection || connection->dropped || handle == nullptr) return nullptr;
  if (handle != handleOf(*connection)) return nullptr;
  return connection.get();
}

bool Simulator::queueLocked(const void* bytes, std::size_t size) {
  if (!connection || connection->dropped || connection->quitQueued) return false;
  Message message;
  message.storage.resize((size + 7) / 8 + 1);
  std::memcpy(message.storage.data(), bytes, size);
  message.size = static_cast<DWORD>(size);
  connection->messages.push_back(std::move(message));
  return true;
}

namespace {

template <typename Record>
Record zeroed() {
  Record r;
  std::memset(&r, 0, sizeof r);
  return r;
}

SimConnectRecv header(SimConnectRecvId id, std::size_t size) {
  return SimConnectRecv{static_cast<DWORD>(size), 1, id};
}

void copyText(char* target, std::size_t capacity, std::string_view text) {
  const std::size_t n = std::min(capacity - 1, text.size());
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

}  // namespace

std::optional<DWORD> subscriptionOf(const Connection& c, std::string_view systemEvent) {
  const std::string key = upperCase(systemEvent);
  for (const auto& [id, name] : c.systemEvents) {
    if (upperCase(name) == key) return id;
  }
  return std::nullopt;
}

void appendNumber(std::vector<std::uint8_t>& out, const simtest::SimValue& v, SimConnectDataType type) {
  std::uint8_t bytes[8];
  if (type == kSimDataInt64) {
    const std::int64_t i = v.integral ? v.integer : static_cast<std::int64_t>(v.number);
    std::memcpy(bytes, &i, 8);
  } else {
    const double d = v.integral ? static_cast<double>(v.integer) : v.number;
    std::memcpy(bytes, &d, 8);
  }
  out.insert(out.end(), bytes, bytes + 8);
}

void appendText(std::vector<std::uint8_t>& out, const std::string& text, SimConnectDataType type) {
  if (type == kSimDataString32) {
    // A text of 32 bytes or more fills the field without a terminator, as the simulator does.
    std::uint8_t field[32] = {};
    std::memcpy(field, text.data(), std::min<std::size_t>(32, text.size()));
    out.insert(out.end(), field, field + 32);
  } else {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
  }
}

bool Simulator::queueEventLocked(std::string_view systemEvent, DWORD data) {
  if (!connection) return false;
  const auto id = subscriptionOf(*connection, systemEvent);
  if (!id) return false;
  auto m = zeroed<SimConnectRecvEvent>();
  m.header = header(kSimRecvEvent, sizeof m);
  m.groupId = 0xFFFFFFFFu;
  m.eventId = *id;
  m.data = data;
  return queueLocked(&m, sizeof m);
}

bool Simulator::queueOpenLocked(const Identity& who) {
  auto m = zeroed<SimConnectRecvOpen>();
  m.header = header(kSimRecvOpen, sizeof m);
  copyText(m.applicationName, sizeof m.applicationName, who.applicationName);
  m.applicationVersionMajor = who.versionMajor;
  m.applicationVersionMinor = who.versionMinor;
  m.applicationBuildMajor = who.buildMajor;
  m.applicationBuildMinor = who.buildMinor;
  return queueLocked(&m, sizeof m);
}

bool Simulator::queueExceptionLocked(DWORD exception, DWORD sendId, DWORD index) {
  auto m = zeroed<SimConnectRecvException>();
  m.header = header(kSimRecvException, sizeof m);
  m.exception = exception;
  m.sendId = sendId;
  m.index = index;
  return queueLocked(&m, sizeof m);
}

bool Simulator::queueFrameLocked(float frameRate) {
  if (!connection) return false;
  const auto id = subscriptionOf(*connection, "Frame");
  if (!id) return false;
  auto m = zeroed<SimConnectRecvEventFrame>();
  m.event.header = header(kSimRecvEventFrame, sizeof m);
  m.event.groupId = 0xFFFFFFFFu;
  m.event.eventId = *id;
  m.frameRate = frameRate;
  m.simulationSpeed = 1.0f;
  return queueLocked(&m, sizeof m);
}

bool Simulator::queueAddRemoveLocked(std::string_view systemEvent, DWORD objectId, SimConnectObjectType type) {
  if (!connection) return false;
  const auto id = subscriptionOf(*connection, systemEvent);
  if (!id) return false;
  auto m = zeroed<SimConnectRecvEventObjectAddRemove>();
  m.event.header = header(kSimRecvEventObjectAddRemove, sizeof m);
  m.event.groupId = 0xFFFFFFFFu;
  m.event.eventId = *id;  // the object's id travels in the data
  m.event.data = objectId;
  m.objectType = type;
  return queueLocked(&m, sizeof m);
}

std::vector<std::uint8_t> Simulator::packLocked(const Connection& c, DWORD defineId,
                                                const std::vector<simtest::SimValue>& values) const {
  std::vector<std::uint8_t> out;
  const auto found = c.definitions.find(defineId);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const simtest::SimValue& v = values[i];
    if (found != c.definitions.end() && i < found->second.size()) {
      const SimConnectDataType type = found->second[i].type;
      if (type == kSimDataString32 || type == kSimDataStringV) {
        appendText(out, v.isText ? v.text : std::string(), type);
      } else {
        appendNumber(out, v.isText ? simtest::SimValue(0.0) : v, type);
      }
    } else if (v.isText) {
      appendText(out, v.text, kSimDataStringV);
    } else {
      appendNumber(out, v, v.integral ? kSimDataInt64 : kSimDataFloat64);
    }
  }
  return out;
}

bool Simulator::queueObjectDataLocked(SimConnectRecvId id, DWORD requestId, DWORD objectId, DWORD defineId,
                                      const std::vector<std::uint8_t>& data, DWORD entry, DWORD outOf) {
  std::vector<std::uint8_t> bytes(kSimObjectDataOffset + data.size());
  auto fixed = zeroed<SimConnectRecvSimObjectData>();
  fixed.header = header(id, bytes.size());
  fixed.requestId = requestId;
  fixed.objectId = objectId;
  fixed.defineId = defineId;
  fixed.entryNumber = entry;
  fixed.outOf = outOf;
  fixed.defineCount = 1;
  std::memcpy(bytes.data(), &fixed, kSimObjectDataOffset);
  if (!data.empty()) std::memcpy(bytes.data() + kSimObjectDataOffset, data.data(), data.size());
  return queueLocked(bytes.data(), bytes.size());
}

HANDLE Simulator::openLocked() {
  Identity who = identity;
  if (byItself) {
    if (!ensureWorldLocked() || world->quit) return nullptr;
    who = world->scenario.identity;
  } else if (!present) {
    return nullptr;
  }
  if (connection) closeLocked(*connection);
  connection = std::make_unique<Connection>();
  connection->id = nextConnectionId++;
  if (byItself || openOnConnect) queueOpenLocked(who);
  return handleOf(*connection);
}

std::optional<std::filesystem::path> scenarioFolderInUse() {
  Simulator& sim = Simulator::get();
  std::filesystem::path base;
  {
    std::lock_guard lock(sim.mutex);
    if (!sim.byItself) return std::nullopt;
    if (sim.world) return sim.world->folder;
    base = sim.folder;
  }
  std::error_code ec;
  if (base.empty()) base = std::filesystem::current_path(ec);
  if (ec || !std::filesystem::exists(base / simtest::kScenarioFileName, ec)) return std::nullopt;
  return base;
}

void Simulator::closeLocked(Connection& c) {
  if (world) worldConnectionClosedLocked(c);
  if (connection.get() == &c) connection.reset();
  // A client may end right after it closes: the state file must already show its objects gone.
  if (world) writeStateLocked();
}

}  // namespace kvo::simstandin

// ---- test hooks ------------------------------------------------------------------------------------

namespace kvo::simtest {

using simstandin::Simulator;

std::string SimCall::text() const {
  std::string out = function + "(";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out += ", ";
    out += args[i];
  }
  return out + ")";
}

void reset() {
  Simulator& sim = Simulator::get();
  std::unique_lock lock(sim.mutex);
  sim.stopWorld(lock);
  sim.byItself = false;
  sim.folder.clear();
  sim.clock = Clock::RealTime;
  sim.present = false;
  sim.identity = Identity{};
  sim.openOnConnect = true;
  sim.failures.clear();
  sim.calls.clear();
  sim.connection.reset();
  sim.scenarioError.clear();
}

void setPresent(bool present) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  sim.present = present;
}

void setIdentity(const Identity& identity) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  sim.identity = identity;
}

void setOpenMessageOnConnect(bool send) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  sim.openOnConnect = send;
}

bool isConnected() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.connection && !sim.connection->dropped;
}

std::size_t pendingMessageCount() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.connection ? sim.connection->messages.size() : 0;
}

bool sendOpen() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueOpenLocked(sim.identity);
}

bool sendOpen(const Identity& identity) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueOpenLocked(identity);
}

bool sendQuit() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  SimConnectRecv m{sizeof(SimConnectRecv), 1, kSimRecvQuit};
  if (!sim.queueLocked(&m, sizeof m)) return false;
  sim.connection->quitQueued = true;
  sim.present = false;
  return true;
}

bool sendSystemEvent(std::string_view systemEventName, DWORD data) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueEventLocked(systemEventName, data);
}

bool startFlight() { return sendSystemEvent("Sim", 1); }
bool stopFlight() { return sendSystemEvent("Sim", 0); }

bool sendFileNameEvent(std::string_view systemEventName, std::string_view fileName) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  if (!sim.connection) return false;
  const auto id = simstandin::subscriptionOf(*sim.connection, systemEventName);
  if (!id) return false;
  auto m = simstandin::zeroed<SimConnectRecvEventFileName>();
  m.event.header = simstandin::header(kSimRecvEventFileName, sizeof m);
  m.event.groupId = 0xFFFFFFFFu;
  m.event.eventId = *id;
  simstandin::copyText(m.fileName, sizeof m.fileName, fileName);
  return sim.queueLocked(&m, sizeof m);
}

bool sendFrame(float frameRate) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueFrameLocked(frameRate);
}

bool sendObjectAdded(DWORD objectId, SimConnectObjectType type) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueAddRemoveLocked("ObjectAdded", objectId, type);
}

bool sendObjectRemoved(DWORD objectId, SimConnectObjectType type) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueAddRemoveLocked("ObjectRemoved", objectId, type);
}

bool sendException(DWORD exception, DWORD sendId, DWORD index) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueExceptionLocked(exception, sendId, index);
}

namespace {
bool sendData(SimConnectRecvId id, DWORD requestId, DWORD objectId, const std::vector<SimValue>& values, DWORD entry,
              DWORD outOf) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  if (!sim.connection) return false;
  const auto found = sim.connection->lastDefineOfRequest.find(requestId);
  const DWORD defineId = found == sim.connection->lastDefineOfRequest.end() ? 0 : found->second;
  return sim.queueObjectDataLocked(id, requestId, objectId, defineId, sim.packLocked(*sim.connection, defineId, values),
                                   entry, outOf);
}
}  // namespace

bool sendObjectData(DWORD requestId, DWORD objectId, const std::vector<SimValue>& values) {
  return sendData(kSimRecvSimObjectData, requestId, objectId, values, 0, 0);
}

bool sendObjectDataByType(DWORD requestId, DWORD objectId, const std::vector<SimValue>& values, DWORD entry,
                          DWORD outOf) {
  return sendData(kSimRecvSimObjectDataByType, requestId, objectId, values, entry, outOf);
}

bool sendDefinedData(SimConnectRecvId id, DWORD requestId, DWORD objectId, DWORD defineId,
                     const std::vector<SimValue>& values) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  if (!sim.connection) return false;
  return sim.queueObjectDataLocked(id, requestId, objectId, defineId, sim.packLocked(*sim.connection, defineId, values),
                                   id == kSimRecvSimObjectDataByType ? 1 : 0, id == kSimRecvSimObjectDataByType ? 1 : 0);
}

bool sendObjectDataBytes(SimConnectRecvId id, DWORD requestId, DWORD objectId, DWORD defineId,
                         const std::vector<std::uint8_t>& data) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueObjectDataLocked(id, requestId, objectId, defineId, data, 0, 0);
}

bool sendRawMessage(const std::vector<std::uint8_t>& bytes) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.queueLocked(bytes.data(), bytes.size());
}

void failCall(std::string_view function, int times) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  if (times == 0) {
    sim.failures.erase(std::string(function));
  } else {
    sim.failures[std::string(function)] = times;
  }
}

void clearFailures() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  sim.failures.clear();
}

std::vector<SimCall> calls() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.calls;
}

std::vector<SimCall> callsOf(std::string_view function) {
  std::vector<SimCall> out;
  for (SimCall& call : calls()) {
    if (call.function == function) out.push_back(std::move(call));
  }
  return out;
}

std::vector<std::string> callTexts() {
  std::vector<std::string> out;
  for (const SimCall& call : calls()) out.push_back(call.text());
  return out;
}

void clearCalls() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  sim.calls.clear();
}

std::vector<std::string> definitionFields(DWORD defineId) {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  std::vector<std::string> out;
  if (!sim.connection) return out;
  const auto found = sim.connection->definitions.find(defineId);
  if (found == sim.connection->definitions.end()) return out;
  for (const auto& field : found->second) out.push_back(field.variable);
  return out;
}

std::string scenarioError() {
  Simulator& sim = Simulator::get();
  std::lock_guard lock(sim.mutex);
  return sim.scenarioError;
}

}  // namespace kvo::simtest
