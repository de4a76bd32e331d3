#pragma once
// Collects, while it lives, the texts of the exceptions that the calling thread's message pump
// hands to its handler of posted messages' errors (those nobody waits for).
#include <exception>
#include <string>
#include <vector>

#include "common/clMessagePump.h"

namespace zvtest {

class ReportedErrors {
public:
  ReportedErrors() {
    TclMessagePump::Current().SetExceptionHandler([this](std::exception_ptr aError) {
      try {
        std::rethrow_exception(aError);
      } catch (const std::exception& e) {
        Texts.push_back(e.what());
      } catch (...) {
        Texts.push_back("(not a std::exception)");
      }
    });
  }
  ~ReportedErrors() { TclMessagePump::Current().SetExceptionHandler(nullptr); }
  ReportedErrors(const ReportedErrors&) = delete;
  ReportedErrors& operator=(const ReportedErrors&) = delete;

  std::vector<std::string> Texts;
};

}  // namespace zvtest
