// Where the decoder's output goes: the receive pane in the window, standard output in the
// headless tool, a recorder in the tests. Texts are Windows-1252 bytes.
#pragma once

#include <cstddef>

namespace kestrix {

class TextSink {
 public:
  virtual ~TextSink() = default;
  // Inserts text at the caret of the receive pane (replacing any selection).
  virtual void InsertText(const char* bytes, size_t length) = 0;
  // A table character after it was inserted: the hand-over to a partner program.
  virtual void TableCharacter(char /*c*/) {}
  // A prosign's letters, posted one by one to a partner program (no pane text copy).
  virtual void ProsignLetter(char /*c*/) {}
  // CLEAR: empty the receive panes.
  virtual void ClearPanes() {}
};

}  // namespace kestrix
