// The JSON report of kivservicemode.
#include "servicemode/kivservicemodejson.h"

#include <algorithm>

#include "debug/kivdebug.h"
#include "servicemode/kivportrequests.h"

namespace {

using Json = nlohmann::ordered_json;

enum class Mode { Out, In, Unknown };

// A port of the pair as the reads found it, where the requests left it,
// and whether a request may have changed it.
struct Track {
  Mode found;
  Mode now;
  bool touched = false;
};

Mode modeOf(const std::optional<PortRead>& read) {
  if (!read || read->result != 0) return Mode::Unknown;
  return read->flag == 1 ? Mode::In : Mode::Out;
}

// A name from a code-to-name table, null when it holds none. The tables'
// lookups trace a miss, and the report must leave the trace as it is.
Json tableName(std::span<const TwoInputStringRow> rows, std::int32_t input1, std::int32_t input2) {
  const char* name = KIV_FindNameByCode(rows, input1, input2);
  return name != nullptr ? Json(name) : Json(nullptr);
}

Json resultName(std::int32_t result) { return tableName(KIV_ValueToStringTable(), result, kCategoryAdapterResult); }

Json portJson(std::int32_t number) { return {{"name", PortRequest::portName(number)}, {"number", number}}; }

Json readJson(const std::optional<PortRead>& read) {
  const Mode m = modeOf(read);
  return m == Mode::Unknown ? Json(nullptr) : Json(m == Mode::In);
}

}  // namespace

bool ServiceModeChanged(const std::optional<PortRead>& own, const std::optional<PortRead>& partner,
                        std::int32_t ownPort, std::span<const PortRequestRecord> requests) {
  Track tracks[2] = {{modeOf(own), modeOf(own)}, {modeOf(partner), modeOf(partner)}};
  for (const PortRequestRecord& r : requests) {
    if (r.value == PortRequestRecord::kRead) continue;
    Track& t = tracks[r.port == ownPort ? 0 : 1];
    if (r.outcomeUnknown) {
      t.touched = true;
      t.now = Mode::Unknown;
      continue;
    }
    const bool done = r.result == AS_Success || r.result == AS_Warning;
    if (!t.touched && t.found == Mode::Unknown && r.value == 0) {
      if (done) t.found = Mode::In;
      else if (r.result == AE_IllegalRequest) t.found = Mode::Out;
    }
    if (done) {
      t.touched = true;
      t.now = r.value == 1 ? Mode::In : Mode::Out;
    }
  }
  return std::any_of(std::begin(tracks), std::end(tracks), [](const Track& t) {
    return t.touched && (t.now == Mode::Unknown || t.found == Mode::Unknown || t.now != t.found);
  });
}

Json ServiceModeDocument(const ServiceModeReport& report, int exitStatus) {
  Json doc = kiv::cli::makeEnvelope("kivservicemode", kServiceModeJsonMajor, kServiceModeJsonMinor, report.argc,
                                    report.argv);
  const bool good = report.commandLineGood;
  const std::int32_t own = nAdapterPortNumber;
  doc["adapter"] = good ? Json(adapterDeviceParam) : Json(nullptr);
  doc["action"] = !good ? Json(nullptr) : queryMode == 1 ? "query" : bServiceMode == 1 ? "enable" : "disable";
  doc["port"] = good ? portJson(own) : Json(nullptr);
  doc["partner"] = good ? portJson(PartnerPort(own)) : Json(nullptr);
  doc["service_mode"] = {{"port", readJson(report.ownRead)}, {"partner", readJson(report.partnerRead)}};
  Json requests = Json::array();
  for (const PortRequestRecord& r : SentPortRequests) {
    Json request = {{"transaction", tableName(KIV_AdapterServiceTransactionTable(), r.transaction, kSvcAdapter)},
                    {"port", portJson(r.port)}};
    if (r.value != PortRequestRecord::kRead) request["value"] = r.value;
    request["exchange_code"] = r.exchangeCode;
    request["result"] = r.result;
    request["result_name"] = resultName(r.result);
    requests.push_back(std::move(request));
  }
  doc["requests"] = std::move(requests);
  doc["changed"] = ServiceModeChanged(report.ownRead, report.partnerRead, own, SentPortRequests);
  doc["result_line"] = report.resultLine.empty() ? Json(nullptr) : Json(report.resultLine);
  for (const std::string& p : ParseParamsProblems) kiv::cli::addMessage(doc, "error", p);
  if (report.failure != 0) {
    const Json name = resultName(report.failure);
    kiv::cli::addMessage(doc, "error", name.is_null() ? report.resultLine
                                                      : report.resultLine + " (" + name.get<std::string>() + ")");
  }
  doc["exit_status"] = exitStatus;
  return doc;
}

void PrintServiceModeDocument(const ServiceModeReport& report, int exitStatus) {
  Json doc = ServiceModeDocument(report, exitStatus);
  kiv::cli::printDocument(doc, exitStatus);
}
