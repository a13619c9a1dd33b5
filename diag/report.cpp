#include "diag/report.h"

#include <cstdio>

#include "diag/trace.h"
#include "outside/cfglib.h"

namespace zw {
namespace {

const cfg::Identity& productCopy() {
  static const cfg::Identity copy = cfg::productIdentity();
  return copy;
}
const cfg::Identity& componentCopy() {
  static const cfg::Identity copy = cfg::componentIdentity();
  return copy;
}

void replaceInserts(svc::Message& msg, const char* const inserts[5]) {
  static const char* const kPlaceholders[5] = {"%1", "%2", "%3", "%4", "%5"};
  for (int k = 0; k < 5; ++k)
    if (inserts[k]) msg.replaceInsert(kPlaceholders[k], inserts[k]);
}

}  // namespace

const nlsmri::MessageFile& messageFile(std::uint32_t msgFrom) {
  static const nlsmri::MessageFile files[3] = {nlsmri::MessageFile("QVXCOMSG.DLL"),
                                               nlsmri::MessageFile("QVXMSG.DLL"),
                                               nlsmri::MessageFile("QVXLINKW.DLL")};
  return files[msgFrom < 3 ? msgFrom : 0];
}

const svc::Message& emptyMessage() {
  static const svc::Message empty = [] {
    svc::Message m(cfg::productIdentity(), cfg::componentIdentity());
    m.setText("");
    return m;
  }();
  return empty;
}

void buildReportingObjects() {
  productCopy();
  componentCopy();
  emptyMessage();
  messageFile(0);
}

svc::Message buildMsg(std::uint32_t number, std::uint32_t msgFrom, std::uint32_t messageClass,
                      const char* insert1, const char* insert2, const char* insert3,
                      const char* insert4, const char* insert5) {
  svc::Message msg(productCopy(), componentCopy());
  msg.setClass(messageClass);
  if (msgFrom > 2) {
    svc::ServiceLine line;
    line.text("ZOCO - BUG?: buildMsg called with invalid msgFrom parm of ")
        .number(msgFrom)
        .endLine();
    msgFrom = 0;
  }
  msg.loadText(messageFile(msgFrom), number);
  const char* const inserts[5] = {insert1, insert2, insert3, insert4, insert5};
  replaceInserts(msg, inserts);
  return msg;
}

svc::Message buildTextMsg(const char* text, std::uint32_t messageClass, const char* insert1,
                          const char* insert2, const char* insert3, const char* insert4,
                          const char* insert5) {
  svc::Message msg(productCopy(), componentCopy());
  msg.setClass(messageClass);
  msg.setText(text);
  const char* const inserts[5] = {insert1, insert2, insert3, insert4, insert5};
  replaceInserts(msg, inserts);
  return msg;
}

std::int32_t reportMsg(ZoCoConnDesc* desc, std::uint32_t action, std::uint32_t statusValue,
                       const svc::Message& message) {
  if (!desc) return 0;
  if (action == 0) {
    desc->lastStatus = 0;
    return 0;
  }
  if (!message.text().empty()) {
    libTrace(desc).text(" - ").text(message.text().c_str()).endLine();
    message.record();
  }
  if (action != 1) return 0;
  ZoCoStatus status{};
  if (statusValue != 0) desc->lastStatus = statusValue;
  status.statusValue = desc->lastStatus;
  status.message = message.address();
  if (!desc->ReportStatus) {
    libTrace(desc).text(" - ReportStatus being called; it is NULL; cannot cancel.").endLine();
    return 0;
  }
  return desc->ReportStatus(&status);
}

std::int32_t reportMsgId(ZoCoConnDesc* desc, std::uint32_t action, std::uint32_t statusValue,
                         std::uint32_t number, std::uint32_t msgFrom,
                         std::uint32_t messageClass) {
  svc::Message msg = buildMsg(number, msgFrom, messageClass);
  if (number == 0) msg.setText("");
  return reportMsg(desc, action, statusValue, msg);
}

std::int32_t reportStatusValue(ZoCoConnDesc* desc, std::uint32_t statusValue) {
  return reportMsg(desc, 1, statusValue, emptyMessage());
}

std::int32_t pollStatus(ZoCoConnDesc* desc) { return reportStatusValue(desc, 0); }

bool cancelRequested(ZoCoConnDesc* desc) { return pollStatus(desc) == 1; }

void reportSocketError(const char* callName, std::int32_t error, std::uint32_t statusValue,
                       ZoCoConnDesc* desc) {
  char number[12];
  std::snprintf(number, sizeof number, "%d", error);
  reportCommErr(callName, 1003, number, nullptr, statusValue, desc);
}

void reportCommErr(const char* insert1, std::uint32_t number, const char* insert2,
                   const char* insert3, std::uint32_t statusValue, ZoCoConnDesc* desc) {
  svc::ServiceLine line;
  line.text("ZOCO - reportCommErr").endLine();
  svc::Message msg = buildMsg(number, 0, ZOCO_MSG_ERROR, insert1, insert2, insert3);
  reportMsg(desc, reportAction(desc ? desc->callReportStatus : 0), statusValue, msg);
}

std::int32_t reportCheckResult(ZoCoConnDesc* desc, std::int32_t result) {
  switch (result) {
    case 0: return reportMsgId(desc, 1, 100, 1062, 0, ZOCO_MSG_INFO);
    case 1: return reportMsgId(desc, 1, 100, 1015, 0, ZOCO_MSG_WARNING);
    case 22: return reportMsgId(desc, 1, 0, 1017, 0, ZOCO_MSG_INFO);
    default: return reportMsgId(desc, 1, 0, 1016, 0, ZOCO_MSG_ERROR);
  }
}

}  // namespace zw
