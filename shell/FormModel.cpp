#include "shell/FormModel.h"

#include <cmath>

namespace ovlu {

void FormModel::Load() {
  for (int i = 0; i < kControls; ++i) {
    const auto c = static_cast<Control>(i);
    captions_[i] = DesignCaption(c);
    enabled_[i] = !IsTimer(c);
  }
  max_ = 100;
  value_ = 0;
  for (int i = 0; i < kColumns; ++i) widths_[i] = kFileListColumns[i].twips;
  rows_.clear();
  selected_ = 0;
  iconsBound_ = false;
  listStyle_ = 0;
  barColour_ = backColour_ = kDefaultColour;
  bigIcon_ = smallIcon_ = 0;
  loaded_ = true;
}

void FormModel::RequireLoaded() const {
  if (!loaded_) throw VbError(errObjectUnloaded, "Object was unloaded");
}

bool FormModel::SetCaption(Control c, const std::string& text) {
  Caption(c);  // the checks
  std::string& current = captions_[Index(c)];
  if (current == text) return false;
  current = text;
  return true;
}

const std::string& FormModel::Caption(Control c) const {
  RequireLoaded();
  if (!HasCaption(c)) throw VbError(errNoSuchProperty, "Object doesn't support this property");
  return captions_[Index(c)];
}

bool FormModel::SetEnabled(Control c, bool enabled) {
  Enabled(c);
  bool& current = enabled_[Index(c)];
  if (current == enabled) return false;
  current = enabled;
  return true;
}

bool FormModel::Enabled(Control c) const {
  RequireLoaded();
  if (c == Control::ImageList1)
    throw VbError(errNoSuchProperty, "Object doesn't support this property");
  return enabled_[Index(c)];
}

bool FormModel::SetProgressMax(float max) {
  RequireLoaded();
  // The maximum must lie above the minimum, which is 0.
  if (!(max > 0) || !std::isfinite(max))
    throw VbError(errInvalidProperty, "Invalid property value");
  if (max == max_) return false;
  max_ = max;
  if (value_ > max_) value_ = max_;
  return true;
}

float FormModel::ProgressMax() const {
  RequireLoaded();
  return max_;
}

bool FormModel::SetProgressValue(float value) {
  RequireLoaded();
  if (!(value >= 0) || value > max_) throw VbError(errInvalidProperty, "Invalid property value");
  if (value == value_) return false;
  value_ = value;
  return true;
}

float FormModel::ProgressValue() const {
  RequireLoaded();
  return value_;
}

int FormModel::BarPosition(int steps) const {
  return static_cast<int>(std::lround(double(value_) / double(max_) * steps));
}

bool FormModel::SetColumnWidth(int column, int twips) {
  ColumnWidth(column);
  if (twips < 0) throw VbError(errInvalidProperty, "Invalid property value");
  int& current = widths_[column - 1];
  if (current == twips) return false;
  current = twips;
  return true;
}

int FormModel::ColumnWidth(int column) const {
  RequireLoaded();
  if (column < 1 || column > kColumns) throw VbError(errIndexOutOfBounds, "Index out of bounds");
  return widths_[column - 1];
}

int FormModel::AddRow(const std::string& text) {
  RequireLoaded();
  rows_.push_back(Row{{text, "", "", ""}, 0});
  return RowCount();
}

int FormModel::RowCount() const {
  RequireLoaded();
  return static_cast<int>(rows_.size());
}

const FormModel::Row& FormModel::RowAt(int row) const {
  RequireLoaded();
  if (row < 1 || row > static_cast<int>(rows_.size()))
    throw VbError(errIndexOutOfBounds, "Index out of bounds");
  return rows_[static_cast<std::size_t>(row - 1)];
}

FormModel::Row& FormModel::RowRef(int row) { return const_cast<Row&>(RowAt(row)); }

void FormModel::CheckSubItem(int subItem) {
  if (subItem < 0 || subItem >= kColumns)
    throw VbError(errInvalidProperty, "Invalid property value");
}

bool FormModel::SetSubItem(int row, int subItem, const std::string& text) {
  Row& r = RowRef(row);
  CheckSubItem(subItem);
  std::string& current = r.text[static_cast<std::size_t>(subItem)];
  if (current == text) return false;
  current = text;
  return true;
}

const std::string& FormModel::SubItem(int row, int subItem) const {
  const Row& r = RowAt(row);
  CheckSubItem(subItem);
  return r.text[static_cast<std::size_t>(subItem)];
}

void FormModel::SelectRow(int row) {
  RowAt(row);
  selected_ = row;
}

int FormModel::SelectedRow() const {
  RequireLoaded();
  return selected_;
}

bool FormModel::SetRowSmallIcon(int row, int image) {
  Row& r = RowRef(row);
  if (!iconsBound_)
    throw VbError(errImageListUnbound, "ImageList must be initialized before it can be used");
  if (image < 0 || image > kImages) throw VbError(errIndexOutOfBounds, "Index out of bounds");
  if (r.icon == image) return false;
  r.icon = image;
  return true;
}

int FormModel::RowSmallIcon(int row) const { return RowAt(row).icon; }

bool FormModel::BindSmallIcons() {
  RequireLoaded();
  if (iconsBound_) return false;
  iconsBound_ = true;
  return true;
}

FormModel::Reply FormModel::Message(Control target, unsigned msg, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
  if (!loaded_) return {};
  auto swap = [](std::intptr_t& slot, std::intptr_t value) {
    const std::intptr_t old = slot;
    slot = value;
    return Reply{true, old};
  };
  switch (target) {
    case Control::FileList:
      if (msg == LVM_GETEXTENDEDLISTVIEWSTYLE_) return {true, listStyle_};
      if (msg == LVM_SETEXTENDEDLISTVIEWSTYLE_) {
        // A mask of 0 lets the whole value apply.
        const std::uint32_t mask = wParam ? static_cast<std::uint32_t>(wParam) : ~0u;
        const std::uint32_t old = static_cast<std::uint32_t>(listStyle_);
        return swap(listStyle_, (old & ~mask) | (static_cast<std::uint32_t>(lParam) & mask));
      }
      break;
    case Control::ProgressBar1:
      if (msg == PBM_SETBKCOLOR_ || msg == PBM_SETBARCOLOR_) {
        const std::intptr_t colour = lParam == kDefaultColour ? kDefaultColour : lParam & 0xFFFFFF;
        return swap(msg == PBM_SETBKCOLOR_ ? backColour_ : barColour_, colour);
      }
      break;
    case Control::MainForm:
      if (msg == WM_SETICON_ && (wParam == ICON_BIG_ || wParam == ICON_SMALL_))
        return swap(wParam == ICON_BIG_ ? bigIcon_ : smallIcon_, lParam);
      break;
    default:
      break;
  }
  return {};
}

bool FormModel::FullRowSelect() const { return (listStyle_ & LVS_EX_FULLROWSELECT_) != 0; }

bool FormModel::ControlOf(Handle h, Control* c) {
  const Handle i = (h - kFirstHandle) / 0x10;
  if (h < kFirstHandle || (h - kFirstHandle) % 0x10 != 0 || i >= kControls) return false;
  *c = static_cast<Control>(i);
  return true;
}

int FormModel::IconMetric(int index) {
  switch (index) {
    case SM_CXICON_:
    case SM_CYICON_:
      return 32;
    case SM_CXSMICON_:
    case SM_CYSMICON_:
      return 16;
    default:
      return 0;
  }
}

}  // namespace ovlu
