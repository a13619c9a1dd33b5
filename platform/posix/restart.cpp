#include "platform/posix/restart.h"

#include <cctype>

#include "platform/platform.h"
#include "platform/posix/delayed.h"
#include "platform/posix/ini.h"

namespace zw::plat::restart {
namespace {

bool isNul(const std::string& key) {
  return key.size() == 3 && std::toupper(static_cast<unsigned char>(key[0])) == 'N' &&
         std::toupper(static_cast<unsigned char>(key[1])) == 'U' &&
         std::toupper(static_cast<unsigned char>(key[2])) == 'L';
}

void deleteFile(Outcome::From from, const std::string& source, Report* report) {
  report->outcomes.push_back(Outcome{from, true, source, "", delayed::deleteNow(source)});
}

void moveFile(Outcome::From from, const std::string& source, const std::string& target,
              bool replace, Report* report) {
  // A move without a target name is malformed: it must never turn into a deletion.
  std::uint32_t error = target.empty() ? static_cast<std::uint32_t>(kErrorInvalidParameter)
                                       : delayed::moveNow(source, target, replace);
  report->outcomes.push_back(Outcome{from, false, source, target, error});
}

void runPendingList(Report* report) {
  std::vector<delayed::Operation> taken;
  long rc = delayed::editPending(false, [&](std::vector<delayed::Operation>& list, bool* changed) {
    taken.swap(list);
    *changed = !taken.empty();
    return kErrorSuccess;
  });
  if (rc != kErrorSuccess) {
    report->pendingError = static_cast<std::uint32_t>(rc);
    return;
  }
  for (const delayed::Operation& op : taken) {
    if (op.target.empty()) {
      deleteFile(Outcome::From::PendingList, op.source, report);
      continue;
    }
    bool replace = op.target.front() == '!';
    moveFile(Outcome::From::PendingList, op.source, replace ? op.target.substr(1) : op.target,
             replace, report);
  }
}

void runWininit(Report* report) {
  std::string path = wininitPath();
  std::vector<ini::Entry> taken;
  {
    delayed::DirectoryLock lock(delayed::windowsDirectory());
    if (lock.error() == kErrorPathNotFound) return;  // no Windows directory, no WININIT.INI
    if (lock.error()) {
      report->wininitError = lock.error();
      return;
    }
    std::string text;
    std::uint32_t error = 0;
    struct stat info{};
    if (!delayed::readTextFile(path, &text, &error, &info)) {
      report->wininitError = error;  // 0: there is no WININIT.INI
      return;
    }
    ini::Document doc = ini::Document::parse(text);
    taken = doc.entries("Rename");
    if (!doc.removeSection("Rename")) return;
    error = delayed::replaceTextFile(path, doc.format(), &info);
    if (error) {
      report->wininitError = error;
      return;
    }
  }
  for (const ini::Entry& entry : taken) {
    if (isNul(entry.key))
      deleteFile(Outcome::From::Wininit, entry.value, report);
    else
      moveFile(Outcome::From::Wininit, entry.value, entry.key, false, report);
  }
}

}  // namespace

bool Report::allDone() const {
  if (pendingError || wininitError) return false;
  for (const Outcome& o : outcomes)
    if (o.error) return false;
  return true;
}

std::string wininitPath() { return delayed::windowsDirectory() + "/WININIT.INI"; }

Report simulateRestart() {
  Report report;
  runPendingList(&report);
  runWininit(&report);
  return report;
}

}  // namespace zw::plat::restart
