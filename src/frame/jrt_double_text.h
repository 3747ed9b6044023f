// The exponent rule of omn_JRTdouble's output, on its own for testing.
#ifndef VARURUROR_FRAME_JRT_DOUBLE_TEXT_H
#define VARURUROR_FRAME_JRT_DOUBLE_TEXT_H

namespace frame {

// Cuts the "0" of a three-digit exponent that begins with it ("1.5e+005" becomes
// "1.5e+05"); with keep_width, puts a blank in front so that the text keeps its length.
// Texts shorter than 4 characters or without such an exponent stay as they are.
void ShortenExponent(char* text, bool keep_width);

}  // namespace frame

#endif
