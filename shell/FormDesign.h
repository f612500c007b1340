// The design of MainForm, shared by every window implementation: where each
// control that has a window sits (in twips, within its container), the text
// it shows until the program sets one, and the columns of the file list.
#pragma once

#include "shell/Window.h"

namespace ovlu {

struct ControlDesign {
  Control control;
  Control container;
  int left, top, width, height;
  const char* caption;
};

// The client area of the form, in twips.
constexpr int kFormClientWidth = 8040;
constexpr int kFormClientHeight = 5670;

// Null for the controls that have no window (timers, image list).
const ControlDesign* DesignOf(Control c);
// The design caption; empty for a control that shows none.
const char* DesignCaption(Control c);
// True for the controls that have a caption (form, labels, buttons, frame).
bool HasCaption(Control c);

struct ColumnDesign {
  const char* header;
  int twips;
};
extern const ColumnDesign kFileListColumns[4];

}  // namespace ovlu
