// libFuzzer target: a learned airport file written from fuzzed stands and uses must be well-formed
// UTF-8 XML to a strict reader other than our own (libxml2; pugixml accepts what others refuse),
// and must read back in our reader with clean texts only. The fuzzed publisher must give a folder
// name that Windows takes for a folder.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "airports/airport_file.h"
#include "airports/airport_folders.h"
#include "core/files.h"
#include "core/utf.h"
#include "scratch_folder.h"

namespace {

std::string text(FuzzedDataProvider& in) { return in.ConsumeRandomLengthString(24); }

std::size_t countChildren(xmlNode* parent, const char* name) {
  std::size_t n = 0;
  for (xmlNode* c = parent == nullptr ? nullptr : parent->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, reinterpret_cast<const xmlChar*>(name))) ++n;
  }
  return n;
}

xmlNode* child(xmlNode* parent, const char* name) {
  for (xmlNode* c = parent == nullptr ? nullptr : parent->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, reinterpret_cast<const xmlChar*>(name))) return c;
  }
  return nullptr;
}

// The stand count as libxml2 reads the file; -1 when it refuses the file.
long strictStandCount(const std::filesystem::path& file) {
  xmlParserCtxtPtr context = xmlNewParserCtxt();
  if (context == nullptr) return -1;
  xmlDocPtr doc =
      xmlCtxtReadFile(context, file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  long count = -1;
  if (doc != nullptr && context->wellFormed != 0) {
    xmlNode* root = xmlDocGetRootElement(doc);
    if (root != nullptr && xmlStrEqual(root->name, reinterpret_cast<const xmlChar*>("airport"))) {
      count = static_cast<long>(countChildren(child(root, "parkpositions"), "parkpos"));
    }
  }
  if (doc != nullptr) xmlFreeDoc(doc);
  xmlFreeParserCtxt(context);
  return count;
}

bool cleanUses(const kvo::AirportFileRecord& record) {
  for (const kvo::Stand& s : record.stands) {
    if (!kvo::isCleanText(s.name)) return false;
    for (const kvo::StandUse& u : s.uses) {
      for (const std::string* t : {&u.airline, &u.type, &u.key, &u.callsign, &u.secondCallsign}) {
        if (!kvo::isCleanText(*t)) return false;
      }
    }
  }
  return kvo::isCleanText(record.name) && kvo::isCleanText(record.publisher) && kvo::isCleanText(record.creator);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto folder = fuzzinput::freshScratchFolder("airport_write");
  FuzzedDataProvider in(data, size);
  kvo::AirportFileRecord record;
  record.icao = text(in);
  record.name = text(in);
  record.publisher = text(in);
  record.creator = text(in);
  record.manufacturer = text(in);
  const std::string folderName = publisherFolderName(record.publisher);
  if (folderName.empty() || isWindowsDeviceName(folderName) || !kvo::isCleanText(folderName) ||
      folderName.find_first_of("/\\:") != std::string::npos) {
    __builtin_trap();
  }
  const int stands = in.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < stands; ++i) {
    kvo::Stand s;
    s.id = static_cast<std::uint32_t>(i + 1);
    s.name = text(in);
    s.latitude = in.ConsumeFloatingPointInRange(-90.0, 90.0);
    s.longitude = in.ConsumeFloatingPointInRange(-180.0, 180.0);
    s.heading = in.ConsumeFloatingPointInRange(0.0, 360.0);
    s.radius = in.ConsumeFloatingPointInRange(0.001, 0.5);
    const int uses = in.ConsumeIntegralInRange(0, 4);
    for (int k = 0; k < uses; ++k) {
      kvo::StandUse u;
      u.airline = text(in);
      u.type = text(in);
      u.key = text(in);
      u.callsign = text(in);
      u.secondCallsign = text(in);
      u.halfHours = in.ConsumeIntegral<std::uint64_t>();
      u.weekday = in.ConsumeIntegralInRange<std::uint32_t>(1, 7);
      u.optionId = in.ConsumeIntegral<std::uint32_t>();
      u.fixed = in.ConsumeIntegralInRange<std::uint32_t>(0, 1);
      u.real = in.ConsumeIntegralInRange<std::uint32_t>(0, 1);
      s.uses.push_back(std::move(u));
    }
    record.stands.push_back(std::move(s));
  }
  const std::filesystem::path file = folder / "ZZZZ.xml";
  if (!kvo::writeAirportFile(record, file)) __builtin_trap();
  if (strictStandCount(file) != static_cast<long>(record.stands.size())) __builtin_trap();
  kvo::AirportFileRecord again;
  if (!kvo::readAirportFile(file, again).empty() || !cleanUses(again)) __builtin_trap();
  return 0;
}
