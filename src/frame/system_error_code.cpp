#include "varururor/frame/system_error_code.h"

#include <cerrno>

#include "plat/process.h"

omi_SystemErrorCode::omi_SystemErrorCode(ErrorCodeType type) { SetError(type); }

void omi_SystemErrorCode::SetError(ErrorCodeType type) {
  system_code_ = type == kSystemError ? plat::GetLastError() : kNoSystemCode;
  runtime_error_ = type == kRuntimeError ? errno : kNoRuntimeError;
}
