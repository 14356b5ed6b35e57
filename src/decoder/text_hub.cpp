#include "decoder/text_hub.h"

#include <algorithm>

namespace kestrix {

void TextHub::Subscribe(TextSink& sink) {
  if (std::find(sinks_.begin(), sinks_.end(), &sink) == sinks_.end()) sinks_.push_back(&sink);
}

void TextHub::Unsubscribe(TextSink& sink) {
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), &sink), sinks_.end());
}

void TextHub::InsertText(const char* bytes, size_t length) {
  for (TextSink* s : sinks_) s->InsertText(bytes, length);
}

void TextHub::TableCharacter(char c) {
  for (TextSink* s : sinks_) s->TableCharacter(c);
}

void TextHub::ProsignLetter(char c) {
  for (TextSink* s : sinks_) s->ProsignLetter(c);
}

void TextHub::ClearPanes() {
  for (TextSink* s : sinks_) s->ClearPanes();
}

}  // namespace kestrix
