#include "ports/linux/qt/QtWindow.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPixmap>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTreeWidget>
#include <QtWidgets/QWidget>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

#include "shell/EventDispatch.h"
#include "shell/FormModel.h"
#include "shell/Vb.h"

// The artwork compiled into the binary (ovlu_qt.qrc); the call has to stand
// outside any namespace.
static void InitArtwork() { Q_INIT_RESOURCE(ovlu_qt); }

namespace ovlu {

namespace {

constexpr int kControls = static_cast<int>(Control::ImageList1) + 1;
constexpr int kColumns = 4;
constexpr int kTwipsPerPixel = 15;
constexpr int kBarSteps = 10000;  // the float range is shown in this many steps
constexpr Handle kFirstIconHandle = 0x200000;

int Idx(Control c) { return static_cast<int>(c); }
int Px(int twips) { return static_cast<int>(std::lround(twips / double(kTwipsPerPixel))); }

QString Text(const std::string& ansi) { return QString::fromStdString(AnsiToUtf8(ansi)); }

// Label texts: CR LF (or a lone CR) is a line break.
QString LabelText(const std::string& ansi) {
  QString t = Text(ansi);
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

QFont DesignFont(const char* family, double points, bool bold) {
  QFont f(QString::fromLatin1(family));
  f.setPointSizeF(points);
  f.setWeight(bold ? QFont::Bold : QFont::Normal);
  f.setStyleHint(QFont::SansSerif);
  return f;
}

QColor FromColorRef(std::intptr_t ref) {
  return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

}  // namespace

// The form itself: paints the decoration and hands activation and the close
// box to the window.
class QtFormWidget : public QWidget {
 public:
  explicit QtFormWidget(std::function<void()> activated, std::function<void()> closeBox)
      : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                             Qt::MSWindowsFixedSizeDialogHint),
        activated_(std::move(activated)),
        closeBox_(std::move(closeBox)) {}

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::WindowActivate) activated_();
    return QWidget::event(e);
  }
  void closeEvent(QCloseEvent* e) override {
    e->ignore();  // the agent decides what closing means
    closeBox_();
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    // Outline rectangles one pixel outside the banner, the list and the bar
    // (twips 45,30,1980,5505 / 2265,795,5655,3045 / 2190,4380,5730,330).
    p.setPen(QColor(192, 192, 255));
    p.setBrush(Qt::NoBrush);
    p.drawRect(3, 2, 132 - 1, 367 - 1);
    p.drawRect(151, 53, 377 - 1, 203 - 1);
    p.drawRect(146, 292, 382 - 1, 22 - 1);
    // Etched separator above the buttons: light line over dark line.
    p.setPen(QColor(192, 192, 192));
    p.drawLine(148, 323, 527, 323);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(148, 324, 527, 324);
  }

 private:
  std::function<void()> activated_;
  std::function<void()> closeBox_;
};

// The list view. Until full-row selection is switched on, only the first
// column of a row reacts to the mouse and carries the selection.
class QtListView : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;
  bool fullRow = false;

 protected:
  bool OffFirstColumn(const QPoint& pos) const {
    if (fullRow) return false;
    QModelIndex i = indexAt(pos);
    return i.isValid() && i.column() != 0;
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (OffFirstColumn(e->position().toPoint())) return e->accept();
    QTreeWidget::mousePressEvent(e);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (OffFirstColumn(e->position().toPoint())) return e->accept();
    QTreeWidget::mouseMoveEvent(e);
  }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    if (OffFirstColumn(e->position().toPoint())) return e->accept();
    QTreeWidget::mouseDoubleClickEvent(e);
  }
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
    QModelIndex i = QTreeWidget::moveCursor(action, modifiers);
    if (!fullRow && i.isValid() && i.column() != 0) i = i.siblingAtColumn(0);
    return i;
  }
};

struct QtWindow::Impl {
  EventDispatch dispatch;
  FormModel model;
  unsigned generation = 0;  // one per Load, so late calls of an old form do nothing

  QtFormWidget* form = nullptr;
  std::array<QWidget*, kControls> widgets{};
  std::array<QLabel*, kControls> labels{};
  QtListView* list = nullptr;
  QProgressBar* bar = nullptr;
  QTimer* timer1 = nullptr;
  QTimer* timerTimeOut = nullptr;

  // Captions and the bar are drawn when events are let through, so that a
  // text rewritten on every chunk is laid out once per round of painting.
  std::array<bool, kControls> captionDue{};
  bool anyCaptionDue = false;
  bool drawPosted = false;
  int barShown = 0;
  QIcon checkIcon, blankIcon;

  // Shared icons of LoadImageA: same name and size, same handle.
  std::map<std::tuple<std::string, int, int>, Handle> sharedIcons;
  std::map<Handle, QPixmap> iconPixmaps;
  Handle nextIcon = kFirstIconHandle;

  bool pointerOverridden = false;
  std::vector<QPointer<QWidget>> retired;  // unloaded forms awaiting deletion

  // True while gen is the form on screen: calls queued for an unloaded
  // form do nothing.
  bool Current(unsigned gen) const { return model.Loaded() && gen == generation; }
  void FireActivate(unsigned gen) {
    if (Current(gen)) dispatch.Activate();
  }

  void Build();
  void ShowCaption(Control c);
  void Draw();
  void DrawSoon();
  void ApplyBarColors();
  void ApplySelectionMode();
  void ApplyWindowIcon();
  void Forget();
};

void QtWindow::Impl::Forget() {
  widgets.fill(nullptr);
  labels.fill(nullptr);
  form = nullptr;
  list = nullptr;
  bar = nullptr;
  timer1 = timerTimeOut = nullptr;
  captionDue.fill(false);
  anyCaptionDue = false;
  drawPosted = false;
  barShown = 0;
}

void QtWindow::Impl::ShowCaption(Control c) {
  const std::string& t = model.Caption(c);
  if (QLabel* l = labels[Idx(c)]) {
    l->setText(LabelText(t));
  } else if (c == Control::MainForm) {
    form->setWindowTitle(Text(t));
  } else if (c == Control::Frame1) {
    static_cast<QGroupBox*>(widgets[Idx(c)])->setTitle(Text(t));
  } else if (auto* b = qobject_cast<QPushButton*>(widgets[Idx(c)])) {
    b->setText(Text(t));
  }
}

// Once per round of events, whoever runs them (DoEvents or the main loop).
void QtWindow::Impl::DrawSoon() {
  if (drawPosted) return;
  drawPosted = true;
  QMetaObject::invokeMethod(
      form, [this] { Draw(); }, Qt::QueuedConnection);
}

void QtWindow::Impl::Draw() {
  drawPosted = false;
  if (!model.Loaded()) return;
  if (anyCaptionDue) {
    for (int i = 0; i < kControls; ++i)
      if (captionDue[i]) ShowCaption(static_cast<Control>(i));
    captionDue.fill(false);
    anyCaptionDue = false;
  }
  const int shown = model.BarPosition(kBarSteps);
  if (shown != barShown) {
    barShown = shown;
    bar->setValue(shown);
  }
}

void QtWindow::Impl::Build() {
  const unsigned gen = generation;
  form = new QtFormWidget([this, gen] { FireActivate(gen); },
                          [this, gen] {
                            if (Current(gen)) dispatch.CloseBox();
                          });
  form->setObjectName(QStringLiteral("MainForm"));
  form->setFixedSize(kFormClientWidth / kTwipsPerPixel, kFormClientHeight / kTwipsPerPixel);
  form->setFont(DesignFont("MS Sans Serif", 8.25, false));
  QPalette white = form->palette();
  white.setColor(QPalette::Window, Qt::white);
  form->setPalette(white);
  form->setAutoFillBackground(true);
  widgets[Idx(Control::MainForm)] = form;

  auto place = [&](Control c, QWidget* w) {
    if (const ControlDesign* d = DesignOf(c); d && c != Control::MainForm)
      w->setGeometry(Px(d->left), Px(d->top), Px(d->width), Px(d->height));
    w->setObjectName(QString::fromLatin1(ControlName(c)));
    widgets[Idx(c)] = w;
  };
  // A label as the agent's labels are: plain text, wrapped, top-left, in
  // the system's window text on the system's window background (Qt's text
  // and base roles; its own window role is the background of dialogs).
  const QPalette system = QGuiApplication::palette();
  auto label = [&](Control c, QWidget* parent, const QFont* font) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setFocusPolicy(Qt::NoFocus);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, system.color(QPalette::Base));
    p.setColor(QPalette::WindowText, system.color(QPalette::Text));
    l->setPalette(p);
    l->setAutoFillBackground(true);
    if (font) l->setFont(*font);
    place(c, l);
    labels[Idx(c)] = l;
    return l;
  };

  const QFont calibri12 = DesignFont("Calibri", 12, false);
  const QFont buttons = DesignFont("MS Sans Serif", 8.25, true);

  auto* picture = new QLabel(form);
  picture->setPixmap(QPixmap(QStringLiteral(":/ovlu/banner.jpg")));
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);  // unscaled, bottom rows clipped
  picture->setScaledContents(false);
  picture->setFocusPolicy(Qt::NoFocus);
  place(Control::Picture1, picture);

  const QFont arial9b = DesignFont("Arial", 9, true);
  QLabel* mesg = label(Control::LblMesg, picture, &arial9b);
  mesg->setAutoFillBackground(false);  // the banner shows through
  mesg->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  QPalette teal = mesg->palette();
  teal.setColor(QPalette::WindowText, QColor(0, 128, 128));
  mesg->setPalette(teal);

  const QFont calibri18b = DesignFont("Calibri", 18, true);
  label(Control::LabelTitle, form, &calibri18b);
  QLabel* status1 = label(Control::LabelStatus1, form, nullptr);

  list = new QtListView(form);
  list->setFont(calibri12);
  list->setColumnCount(kColumns);
  QStringList headers;
  for (const ColumnDesign& column : kFileListColumns) headers << QString::fromLatin1(column.header);
  list->setHeaderLabels(headers);
  list->setRootIsDecorated(false);
  list->setIndentation(0);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSortingEnabled(false);
  list->setIconSize(QSize(16, 16));
  list->header()->setStretchLastSection(false);
  list->header()->setMinimumSectionSize(0);
  list->header()->setSectionsMovable(false);
  list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int i = 0; i < kColumns; ++i) list->setColumnWidth(i, Px(model.ColumnWidth(i + 1)));
  place(Control::FileList, list);
  status1->stackUnder(list);  // the list covers it
  ApplySelectionMode();

  label(Control::Label3, form, &calibri12);
  label(Control::LabelST, form, &calibri12);

  bar = new QProgressBar(form);
  bar->setRange(0, kBarSteps);
  bar->setValue(0);
  bar->setTextVisible(false);
  bar->setFocusPolicy(Qt::NoFocus);
  place(Control::ProgressBar1, bar);

  auto button = [&](Control c) {
    auto* b = new QPushButton(form);
    b->setFont(buttons);
    b->setAutoDefault(true);  // Return presses the focused button
    place(c, b);
    QObject::connect(b, &QPushButton::clicked, form, [this, gen, c] {
      if (Current(gen)) dispatch.Click(c);
    });
    return b;
  };
  button(Control::cmdGET);
  button(Control::CmdChiudi);

  auto* frame = new QGroupBox(form);
  QPalette fp = frame->palette();
  fp.setColor(QPalette::Window, Qt::white);
  fp.setColor(QPalette::WindowText, system.color(QPalette::Text));
  frame->setPalette(fp);
  frame->setAutoFillBackground(true);
  place(Control::Frame1, frame);
  label(Control::LabelFName, frame, nullptr);
  label(Control::LabelDest, frame, nullptr);
  label(Control::Label1, frame, nullptr);
  label(Control::LabelFS, frame, nullptr);

  for (int i = 0; i < kControls; ++i)
    if (HasCaption(static_cast<Control>(i))) ShowCaption(static_cast<Control>(i));

  // Tab order by the design's tab index. Of its controls only the buttons
  // (tab index 1 and 8) and the list (12) take the keyboard focus; labels,
  // the bar and the picture are passed over.
  QWidget::setTabOrder(widgets[Idx(Control::cmdGET)], widgets[Idx(Control::CmdChiudi)]);
  QWidget::setTabOrder(widgets[Idx(Control::CmdChiudi)], widgets[Idx(Control::FileList)]);

  timer1 = new QTimer(form);
  timer1->setInterval(1000);
  QObject::connect(timer1, &QTimer::timeout, form, [this, gen] {
    if (Current(gen)) dispatch.Tick(Control::Timer1);
  });
  timerTimeOut = new QTimer(form);
  timerTimeOut->setInterval(10);
  QObject::connect(timerTimeOut, &QTimer::timeout, form, [this, gen] {
    if (Current(gen)) dispatch.Tick(Control::TimerTimeOut);
  });
}

void QtWindow::Impl::ApplySelectionMode() {
  const bool full = model.FullRowSelect();
  list->fullRow = full;
  list->setSelectionBehavior(full ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
  list->setAllColumnsShowFocus(full);
  // The selected row stays selected across the change of mode.
  const QModelIndexList sel = list->selectionModel()->selectedIndexes();
  if (!sel.isEmpty())
    list->selectionModel()->setCurrentIndex(
        sel.first().siblingAtColumn(0),
        full ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
             : QItemSelectionModel::ClearAndSelect);
}

void QtWindow::Impl::ApplyBarColors() {
  const std::intptr_t back = model.BackColour(), fore = model.BarColour();
  if (back == kDefaultColour && fore == kDefaultColour) {
    bar->setPalette(QPalette());
    return;
  }
  QPalette p = bar->palette();
  if (back != kDefaultColour) {
    p.setColor(QPalette::Base, FromColorRef(back));
    p.setColor(QPalette::Window, FromColorRef(back));
  }
  if (fore != kDefaultColour) p.setColor(QPalette::Highlight, FromColorRef(fore));
  bar->setPalette(p);
}

void QtWindow::Impl::ApplyWindowIcon() {
  QIcon icon;
  for (Handle h : {model.Icon(ICON_BIG_), model.Icon(ICON_SMALL_)}) {
    auto it = iconPixmaps.find(h);
    if (it != iconPixmaps.end()) icon.addPixmap(it->second);
  }
  form->setWindowIcon(icon);
}

QtWindow::QtWindow() : d_(std::make_unique<Impl>()) {
  InitArtwork();
  // Metric-compatible stand-ins for the Windows fonts of the design.
  QFont::insertSubstitutions(
      QStringLiteral("MS Sans Serif"),
      {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("Calibri"), {QStringLiteral("Carlito")});
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
  QPixmap check(QStringLiteral(":/ovlu/check16.png"));
  d_->checkIcon = QIcon(check);
  QPixmap blank(16, 16);
  blank.fill(Qt::transparent);
  d_->blankIcon = QIcon(blank);
}

QtWindow::~QtWindow() {
  if (d_->model.Loaded()) {
    d_->model.Unload();
    delete d_->form;
  }
  for (QPointer<QWidget>& w : d_->retired) delete w.data();
  if (d_->pointerOverridden) QGuiApplication::restoreOverrideCursor();
}

void QtWindow::Load(FormEvents* events) {
  if (d_->model.Loaded()) return;
  ++d_->generation;
  d_->Forget();
  d_->model.Load();
  d_->dispatch.Attach(events);
  d_->Build();
}

bool QtWindow::Loaded() const { return d_->model.Loaded(); }

void QtWindow::Show() {
  d_->model.RequireLoaded();
  d_->Draw();
  QWidget* form = d_->form;
  form->show();
  // The keyboard focus starts on the first control in tab order that takes it.
  if (!form->focusWidget())
    for (Control c : {Control::cmdGET, Control::CmdChiudi, Control::FileList})
      if (d_->model.Enabled(c)) {
        d_->widgets[Idx(c)]->setFocus(Qt::OtherFocusReason);
        break;
      }
  // The window is activated on being shown: the first turn of the event
  // loop after showing, whether or not a window manager activates it.
  const unsigned gen = d_->generation;
  QTimer::singleShot(0, form, [this, gen] { d_->FireActivate(gen); });
}

void QtWindow::Unload() {
  if (!d_->model.Loaded()) return;
  d_->model.Unload();
  d_->dispatch.Detach();
  ++d_->generation;
  d_->timer1->stop();
  d_->timerTimeOut->stop();
  QWidget* form = d_->form;
  form->hide();
  // The form may be unloaded from inside one of its own event handlers, so
  // it is deleted once control is back in the event loop.
  form->deleteLater();
  d_->retired.erase(std::remove_if(d_->retired.begin(), d_->retired.end(),
                                   [](const QPointer<QWidget>& w) { return w.isNull(); }),
                    d_->retired.end());
  d_->retired.emplace_back(form);
  d_->Forget();
}

void QtWindow::SetCaption(Control c, const std::string& text) {
  if (!d_->model.SetCaption(c, text)) return;
  d_->captionDue[Idx(c)] = true;
  d_->anyCaptionDue = true;
  d_->DrawSoon();
}

std::string QtWindow::Caption(Control c) const { return d_->model.Caption(c); }

void QtWindow::SetEnabled(Control c, bool enabled) {
  if (!d_->model.SetEnabled(c, enabled)) return;
  if (QTimer* t = Timer(c)) {
    if (enabled)
      t->start();
    else
      t->stop();
  } else {
    d_->widgets[Idx(c)]->setEnabled(enabled);
  }
}

bool QtWindow::Enabled(Control c) const { return d_->model.Enabled(c); }

void QtWindow::SetProgressMax(float max) {
  if (d_->model.SetProgressMax(max) && d_->model.BarPosition(kBarSteps) != d_->barShown)
    d_->DrawSoon();
}

float QtWindow::ProgressMax() const { return d_->model.ProgressMax(); }

void QtWindow::SetProgressValue(float value) {
  if (d_->model.SetProgressValue(value) && d_->model.BarPosition(kBarSteps) != d_->barShown)
    d_->DrawSoon();
}

float QtWindow::ProgressValue() const { return d_->model.ProgressValue(); }

void QtWindow::SetColumnWidth(int column, int twips) {
  if (d_->model.SetColumnWidth(column, twips)) d_->list->setColumnWidth(column - 1, Px(twips));
}

int QtWindow::ColumnWidth(int column) const { return d_->model.ColumnWidth(column); }

int QtWindow::AddRow(const std::string& text) {
  const int row = d_->model.AddRow(text);
  auto* item = new QTreeWidgetItem();
  item->setText(0, Text(text));
  if (d_->model.IconsBound()) item->setIcon(0, d_->blankIcon);
  d_->list->addTopLevelItem(item);
  return row;
}

int QtWindow::RowCount() const { return d_->model.RowCount(); }

void QtWindow::SetSubItem(int row, int subItem, const std::string& text) {
  if (d_->model.SetSubItem(row, subItem, text))
    d_->list->topLevelItem(row - 1)->setText(subItem, Text(text));
}

std::string QtWindow::SubItem(int row, int subItem) const {
  return d_->model.SubItem(row, subItem);
}

void QtWindow::SelectRow(int row) {
  d_->model.SelectRow(row);
  QModelIndex first = d_->list->model()->index(row - 1, 0);
  d_->list->selectionModel()->setCurrentIndex(
      first, d_->model.FullRowSelect()
                 ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                 : QItemSelectionModel::ClearAndSelect);
  d_->list->scrollTo(first);
}

int QtWindow::SelectedRow() const {
  d_->model.RequireLoaded();
  // The user may have picked another row: the list knows.
  const QModelIndexList sel = d_->list->selectionModel()->selectedIndexes();
  return sel.isEmpty() ? 0 : sel.first().row() + 1;
}

void QtWindow::SetRowSmallIcon(int row, int image) {
  if (d_->model.SetRowSmallIcon(row, image))
    d_->list->topLevelItem(row - 1)->setIcon(0, image ? d_->checkIcon : d_->blankIcon);
}

int QtWindow::RowSmallIcon(int row) const { return d_->model.RowSmallIcon(row); }

void QtWindow::BindSmallIcons() {
  if (!d_->model.BindSmallIcons()) return;
  // Bound small icons take their room in the first column of every row.
  for (int i = 0; i < d_->list->topLevelItemCount(); ++i)
    d_->list->topLevelItem(i)->setIcon(0, d_->blankIcon);
}

Handle QtWindow::WindowHandle(Control c) const {
  return d_->model.Loaded() ? FormModel::HandleOf(c) : 0;
}

std::intptr_t QtWindow::SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                                     std::intptr_t lParam) {
  Control c;
  if (!FormModel::ControlOf(window, &c)) return 0;
  const FormModel::Reply r = d_->model.Message(c, msg, wParam, lParam);
  if (!r.decoded || msg == LVM_GETEXTENDEDLISTVIEWSTYLE_) return r.result;
  if (c == Control::FileList) d_->ApplySelectionMode();
  if (c == Control::ProgressBar1) d_->ApplyBarColors();
  if (c == Control::MainForm) d_->ApplyWindowIcon();
  return r.result;
}

Handle QtWindow::GetWindow(Handle, unsigned) {
  return 0;  // a Qt top-level window has no owner
}

int QtWindow::GetSystemMetrics(int index) { return FormModel::IconMetric(index); }

Handle QtWindow::LoadImageA(const std::string& name, unsigned type, int cx, int cy,
                            unsigned flags) {
  if (type != IMAGE_ICON_) return 0;
  std::string key;
  for (char ch : name) key += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
  if (key != "AAA") return 0;  // the only icon group compiled in
  if (cx <= 0) cx = 32;
  if (cy <= 0) cy = cx;
  const bool shared = (flags & LR_SHARED_) != 0;
  const auto cacheKey = std::make_tuple(key, cx, cy);
  if (shared) {
    auto it = d_->sharedIcons.find(cacheKey);
    if (it != d_->sharedIcons.end()) return it->second;
  }
  // The smallest image at least as large as asked for, else the largest.
  int pick = 48;
  for (int size : {16, 32, 48})
    if (size >= std::max(cx, cy)) {
      pick = size;
      break;
    }
  QPixmap pm(QStringLiteral(":/ovlu/AAA_%1.png").arg(pick));
  if (pm.isNull()) return 0;
  if (pm.width() != cx || pm.height() != cy)
    pm = pm.scaled(cx, cy, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  const Handle h = d_->nextIcon;
  d_->nextIcon += 4;
  d_->iconPixmaps[h] = pm;
  if (shared) d_->sharedIcons[cacheKey] = h;
  return h;
}

int QtWindow::MsgBox(const std::string& text, int flags, const std::string& title) {
  if (msgBoxHook) return msgBoxHook(text, flags, title);
  using SB = QMessageBox::StandardButton;
  struct Choice {
    SB button;
    int answer;
  };
  std::vector<Choice> choices;
  switch (flags & 7) {
    case 1:
      choices = {{SB::Ok, 1}, {SB::Cancel, 2}};
      break;
    case 2:
      choices = {{SB::Abort, 3}, {SB::Retry, 4}, {SB::Ignore, 5}};
      break;
    case 3:
      choices = {{SB::Yes, 6}, {SB::No, 7}, {SB::Cancel, 2}};
      break;
    case 4:
      choices = {{SB::Yes, 6}, {SB::No, 7}};
      break;
    case 5:
      choices = {{SB::Retry, 4}, {SB::Cancel, 2}};
      break;
    default:
      choices = {{SB::Ok, 1}};
      break;
  }
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & 0x70) {
    case 16:
      icon = QMessageBox::Critical;
      break;
    case 32:
      icon = QMessageBox::Question;
      break;
    case 48:
      icon = QMessageBox::Warning;
      break;
    case 64:
      icon = QMessageBox::Information;
      break;
  }
  QMessageBox::StandardButtons buttons;
  for (const Choice& ch : choices) buttons |= ch.button;
  d_->Draw();
  QWidget* parent = d_->model.Loaded() && d_->form->isVisible() ? d_->form : nullptr;
  QMessageBox box(icon, Text(title), Text(text), buttons, parent);
  box.setTextFormat(Qt::PlainText);
  // The agent speaks Italian whatever the desktop's language: the buttons
  // say what they say on an Italian Windows.
  static const std::pair<SB, const char*> kItalian[] = {
      {SB::Ok, "OK"},          {SB::Cancel, "Annulla"}, {SB::Abort, "&Interrompi"},
      {SB::Retry, "&Riprova"}, {SB::Ignore, "&Ignora"}, {SB::Yes, "&S\u00EC"},
      {SB::No, "&No"}};
  for (const auto& [button, label] : kItalian)
    if (QAbstractButton* b = box.button(button)) b->setText(QString::fromUtf8(label));
  const std::size_t def = std::min<std::size_t>((flags >> 8) & 3, choices.size() - 1);
  box.setDefaultButton(choices[def].button);
  // The box's own event loop runs the timers; the network is moved on
  // beside it.
  QTimer background;
  background.setInterval(EventDispatch::kBackgroundGap);
  QObject::connect(&background, &QTimer::timeout, &box,
                   [this] { EventDispatch::Background(onBackground); });
  background.start();
  box.exec();
  background.stop();
  const SB clicked = box.standardButton(box.clickedButton());
  for (const Choice& ch : choices)
    if (ch.button == clicked) return ch.answer;
  // Closed without a button: the answer of the cancelling button, if any.
  for (const Choice& ch : choices)
    if (ch.answer == 2 || ch.answer == 7) return ch.answer;
  return choices.front().answer;
}

void QtWindow::SetScreenPointer(int pointer) {
  if (pointer == vbDefault) {
    if (d_->pointerOverridden) QGuiApplication::restoreOverrideCursor();
    d_->pointerOverridden = false;
    return;
  }
  Qt::CursorShape shape = Qt::ArrowCursor;
  switch (pointer) {
    case 2:
      shape = Qt::CrossCursor;
      break;
    case 3:
      shape = Qt::IBeamCursor;
      break;
    case 11:
      shape = Qt::WaitCursor;
      break;
    case 12:
      shape = Qt::ForbiddenCursor;
      break;
    case 13:
      shape = Qt::BusyCursor;
      break;
    case 15:
      shape = Qt::SizeAllCursor;
      break;
    case 99:
      shape = Qt::PointingHandCursor;
      break;
  }
  if (d_->pointerOverridden)
    QGuiApplication::changeOverrideCursor(QCursor(shape));
  else
    QGuiApplication::setOverrideCursor(QCursor(shape));
  d_->pointerOverridden = true;
}

void QtWindow::DoEvents() {
  // The window's own events run at most once per gap: a click, a key or a
  // due timer waits no longer than that, and a caller that pumps after
  // every kilobyte does not pay for a round of the event loop each time.
  if (d_->dispatch.RoundDue()) {
    d_->Draw();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  if (onPump) onPump();
}

int QtWindow::Run() { return QApplication::exec(); }

QWidget* QtWindow::Widget(Control c) const {
  if (!d_->model.Loaded()) return nullptr;
  d_->Draw();
  return d_->widgets[Idx(c)];
}

QTimer* QtWindow::Timer(Control c) const {
  if (!d_->model.Loaded()) return nullptr;
  if (c == Control::Timer1) return d_->timer1;
  if (c == Control::TimerTimeOut) return d_->timerTimeOut;
  return nullptr;
}

const FormModel& QtWindow::model() const { return d_->model; }

QImage QtWindow::IconImage(Handle icon) const {
  auto it = d_->iconPixmaps.find(icon);
  return it == d_->iconPixmaps.end() ? QImage() : it->second.toImage();
}

QImage QtWindow::Grab() const {
  if (!d_->model.Loaded()) return QImage();
  d_->Draw();
  return d_->form->grab().toImage();
}

bool QtWindow::SaveScreenshot(const std::string& pngPath) const {
  QImage img = Grab();
  return !img.isNull() && img.save(QString::fromStdString(pngPath), "PNG");
}

}  // namespace ovlu
