// Allocation tracking for debugging. With KOV_MEM_TRACK set, every operation of the
// allocation entry points is recorded with its transaction number, thread and phase, in
// files "<base>.memT<n>" and "<base>.phaseStack" that tools/memtrack reads. Callers mark
// phases of their work; KOV_MEM_OUTPUTDIR names the output directory and KOV_MEM_DBTRANS
// lists transactions to announce on standard error, for a debugger to stop at.
#ifndef VARURUROR_MEM_TRACKER_H
#define VARURUROR_MEM_TRACKER_H

#include "varururor/frame/export.h"

class VR_API mem_Tracker_Interface {
 public:
  // Each does nothing unless tracking is on, except where said.
  static void SetOutputName(char const* name);
  // The number the next record gets, in every mode.
  static int CurrTransactionId();
  // Phases of the calling thread nest: ROOT->name->... print nonzero announces the change.
  static void EnterPhase(char const* name, int print);
  static void ExitPhase(int print);
  static void PrintTransaction(char const* label);
  // StopTracking stops recording new blocks, and frees of those blocks; StartTracking
  // resumes recording.
  static void StartTracking();
  static void StopTracking();
  // True when tracking is on for the process, whether or not it is stopped.
  static bool IsTrackingActive();
};

// For Fortran callers; they make the tracker in every mode.
VR_FORTRAN void MEM_TRACKER_ENTERPHASE(int* print, char* name, int len);
VR_FORTRAN void MEM_TRACKER_EXITPHASE(int* print);
VR_FORTRAN void MEM_TRACKER_PRINTTRANSACTION(char* label, int len);

#endif
