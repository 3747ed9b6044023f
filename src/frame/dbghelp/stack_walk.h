// Stack steps over the faulting thread's registers, from the modules' call-frame
// information; every read of the stack is checked against readable memory first, so a
// smashed frame ends the walk instead of faulting.
#ifndef VARURUROR_FRAME_DBGHELP_STACK_WALK_H
#define VARURUROR_FRAME_DBGHELP_STACK_WALK_H

namespace dbghelp {

// Made once, at preparation: the walker's own address space allocates.
bool PrepareStackWalk();

// Starts a walk at the registers of context (the faulting thread's ucontext_t).
bool StartWalk(void* context, unsigned* pc, unsigned* sp);
// One step to the caller; false at the end of the stack or when a read would fault.
bool NextFrame(unsigned* pc, unsigned* sp);

}  // namespace dbghelp

#endif
