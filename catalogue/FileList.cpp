#include "catalogue/UpdateList.h"
#include "shell/MainForm.h"

namespace ovlu {

void MainForm::FillFileList() {
  try {
    UpdateItemArray& items = G().UpdateItems;
    const std::int32_t last = items.UBound();
    for (std::int32_t i = 0; i <= last; ++i) {
      const UpdateItem& item = items[i];
      Ctl().AddRow(FileKind(item.FileName));
      Ctl().SetSubItem(i + 1, 1, item.Action);
      Ctl().SetSubItem(i + 1, 2, "");
      Ctl().SetSubItem(i + 1, 3, item.DestFolder + item.DestName);
    }
  } catch (const VbError&) {
    // An empty list, or a row that could not be written: keep what is there.
  }
}

}  // namespace ovlu
