// The last error of the run-time library or of the operating system, kept as a value.
#ifndef VARURUROR_FRAME_SYSTEM_ERROR_CODE_H
#define VARURUROR_FRAME_SYSTEM_ERROR_CODE_H

#include "varururor/frame/export.h"

class VR_API omi_SystemErrorCode {
 public:
  enum ErrorCodeType {
    kRuntimeError = 0,  // errno
    kSystemError = 1,   // the operating system's last error
  };
  static constexpr unsigned int kNoSystemCode = 0xFFFFFFFFu;
  static constexpr int kNoRuntimeError = -1;

  // Takes the error the type names; the other field reads as absent. Any other type
  // takes neither.
  explicit omi_SystemErrorCode(ErrorCodeType type);
  void SetError(ErrorCodeType type);

  unsigned int GetSystemCode() const { return system_code_; }
  int GetRuntimeError() const { return runtime_error_; }

 private:
  unsigned int system_code_;
  int runtime_error_;
};
static_assert(sizeof(omi_SystemErrorCode) == 8, "system code, run-time error number");

#endif
