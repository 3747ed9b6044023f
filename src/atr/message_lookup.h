// The text a message is shown as: its translation from the dictionary, or else the
// message itself, cut before "\@" and converted from UTF-8 to the locale's encoding.
#ifndef VARURUROR_ATR_MESSAGE_LOOKUP_H
#define VARURUROR_ATR_MESSAGE_LOOKUP_H

namespace atr {

class MessageText {
 public:
  // message must not be null and must outlive the object.
  explicit MessageText(char const* message);
  ~MessageText();
  MessageText(MessageText const&) = delete;
  MessageText& operator=(MessageText const&) = delete;

  // The text, not necessarily terminated at length().
  char const* text() const { return text_; }
  int length() const { return length_; }

 private:
  char const* text_;
  int length_;
  char* converted_;  // owned when the text had to be converted
};

}  // namespace atr

#endif
