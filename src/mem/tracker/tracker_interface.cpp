#include <algorithm>
#include <cstring>

#include "mem/tracker/tracker.h"
#include "mem/tracking_port.h"
#include "varururor/mem/tracker.h"

namespace {

// The tracker when tracking is on, made on first need; else null.
mem_Tracker* TrackerIfOn() {
  return mem::tracking::DecideMode() == mem::tracking::kOn ? mem_Tracker::Get() : nullptr;
}

// A Fortran character argument copied into a terminated buffer of this size.
constexpr int kFortranTextBytes = 120;

struct FortranText {
  FortranText(char const* text, int length) {
    int const kept = text != nullptr ? std::clamp(length, 0, kFortranTextBytes - 1) : 0;
    if (kept > 0) std::memcpy(buffer, text, kept);
    buffer[kept] = '\0';
  }
  char buffer[kFortranTextBytes];
};

}  // namespace

void mem_Tracker_Interface::SetOutputName(char const* name) {
  if (mem_Tracker* tracker = TrackerIfOn()) tracker->SetOutputName(name);
}

int mem_Tracker_Interface::CurrTransactionId() {
  mem_Tracker* tracker = mem_Tracker::Get();
  return tracker != nullptr ? tracker->TransactionCounter() : 0;
}

void mem_Tracker_Interface::EnterPhase(char const* name, int print) {
  if (mem_Tracker* tracker = TrackerIfOn()) tracker->EnterPhase(name, print);
}

void mem_Tracker_Interface::ExitPhase(int print) {
  if (mem_Tracker* tracker = TrackerIfOn()) tracker->ExitPhase(print);
}

void mem_Tracker_Interface::PrintTransaction(char const* label) {
  if (mem_Tracker* tracker = TrackerIfOn()) tracker->PrintTransaction(label);
}

void mem_Tracker_Interface::StartTracking() {
  if (mem_Tracker* tracker = TrackerIfOn()) tracker->StartTracking();
}

void mem_Tracker_Interface::StopTracking() {
  if (mem_Tracker* tracker = TrackerIfOn()) tracker->StopTracking();
}

bool mem_Tracker_Interface::IsTrackingActive() {
  return mem::tracking::DecideMode() == mem::tracking::kOn;
}

void MEM_TRACKER_ENTERPHASE(int* print, char* name, int len) {
  mem_Tracker::Get();
  FortranText text(name, len);
  mem_Tracker_Interface::EnterPhase(text.buffer, print != nullptr ? *print : 0);
}

void MEM_TRACKER_EXITPHASE(int* print) {
  mem_Tracker::Get();
  mem_Tracker_Interface::ExitPhase(print != nullptr ? *print : 0);
}

void MEM_TRACKER_PRINTTRANSACTION(char* label, int len) {
  mem_Tracker::Get();
  FortranText text(label, len);
  mem_Tracker_Interface::PrintTransaction(text.buffer);
}
