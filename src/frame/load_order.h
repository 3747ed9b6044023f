// The order of the library's load-time work: the standard streams are built first
// (input, output, error), then the loader is told that no thread notices are wanted.
// Both come before the ordinary static objects of the library and of its clients.
#ifndef VARURUROR_FRAME_LOAD_ORDER_H
#define VARURUROR_FRAME_LOAD_ORDER_H

#define VR_LOAD_ORDER_STANDARD_STREAMS 200
#define VR_LOAD_ORDER_PROCESS_ATTACH 201

#endif
