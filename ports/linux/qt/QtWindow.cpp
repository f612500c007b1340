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
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

#include "shell/FormDesign.h"
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
constexpr std::intptr_t kClrDefault = 0xFF000000;
constexpr Handle kFirstWindowHandle = 0x10010;
constexpr Handle kFirstIconHandle = 0x200000;
constexpr int errIndexOutOfBounds = 35600;
constexpr int errImageListNotBound = 35613;
constexpr int errNoSuchProperty = 438;

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
  FormEvents* events = nullptr;
  bool loaded = false;
  bool activated = false;
  unsigned generation = 0;  // one per Load, so late calls of an old form do nothing

  QtFormWidget* form = nullptr;
  std::array<QWidget*, kControls> widgets{};
  std::array<QLabel*, kControls> labels{};
  QtListView* list = nullptr;
  QProgressBar* bar = nullptr;
  QTimer* timer1 = nullptr;
  QTimer* timerTimeOut = nullptr;

  // What the agent wrote, as it wrote it (ANSI), so that reading a caption
  // gives back the same bytes and unchanged texts cost nothing.
  std::array<std::string, kControls> captions;
  std::array<bool, kControls> enabled{};

  float barMax = 100;
  float barValue = 0;
  int barShown = 0;
  std::intptr_t bkColor = kClrDefault;
  std::intptr_t barColor = kClrDefault;

  std::array<int, kColumns> columnTwips{};
  std::vector<std::array<std::string, kColumns>> cells;
  std::vector<int> rowIcons;
  bool iconsBound = false;
  unsigned extendedStyle = 0;
  QIcon checkIcon, blankIcon;

  // Shared icons of LoadImageA: same name and size, same handle.
  std::map<std::tuple<std::string, int, int>, Handle> sharedIcons;
  std::map<Handle, QPixmap> iconPixmaps;
  Handle nextIcon = kFirstIconHandle;
  Handle bigIcon = 0, smallIcon = 0;

  bool pointerOverridden = false;
  std::vector<QPointer<QWidget>> retired;  // unloaded forms awaiting deletion

  void RequireLoaded() const {
    if (!loaded) throw VbError(errInvalidCall, "the window is not loaded");
  }
  int RowIndex(int row) const {
    if (row < 1 || row > static_cast<int>(cells.size()))
      throw VbError(errIndexOutOfBounds, "Index out of bounds");
    return row - 1;
  }
  static int SubIndex(int subItem) {
    if (subItem < 0 || subItem >= kColumns)
      throw VbError(errIndexOutOfBounds, "Index out of bounds");
    return subItem;
  }
  static int ColumnIndex(int column) {
    if (column < 1 || column > kColumns) throw VbError(errIndexOutOfBounds, "Index out of bounds");
    return column - 1;
  }

  void FireActivate(unsigned gen) {
    if (!loaded || activated || gen != generation) return;
    activated = true;
    if (events) events->Form_Activate();
  }

  void Build();
  void ShowCaption(Control c);
  void ApplyBarColors();
  void ApplySelectionMode();
  void ApplyWindowIcon();
  void ResetState();
};

void QtWindow::Impl::ResetState() {
  activated = false;
  widgets.fill(nullptr);
  labels.fill(nullptr);
  form = nullptr;
  list = nullptr;
  bar = nullptr;
  timer1 = timerTimeOut = nullptr;
  for (int i = 0; i < kControls; ++i) captions[i] = DesignCaption(static_cast<Control>(i));
  enabled.fill(true);
  enabled[Idx(Control::Timer1)] = false;
  enabled[Idx(Control::TimerTimeOut)] = false;
  barMax = 100;
  barValue = 0;
  barShown = 0;
  bkColor = barColor = kClrDefault;
  for (int i = 0; i < kColumns; ++i) columnTwips[i] = kFileListColumns[i].twips;
  cells.clear();
  rowIcons.clear();
  iconsBound = false;
  extendedStyle = 0;
  bigIcon = smallIcon = 0;
}

void QtWindow::Impl::ShowCaption(Control c) {
  const std::string& t = captions[Idx(c)];
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

void QtWindow::Impl::Build() {
  const unsigned gen = generation;
  form = new QtFormWidget([this, gen] { FireActivate(gen); },
                          [this, gen] {
                            if (loaded && gen == generation && events) events->Form_CloseBox();
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
  // A label as the agent's labels are: plain text, wrapped, top-left,
  // window text on the window background.
  auto label = [&](Control c, QWidget* parent, const QFont* font) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setFocusPolicy(Qt::NoFocus);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
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
  for (int i = 0; i < kColumns; ++i) list->setColumnWidth(i, Px(columnTwips[i]));
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
      if (!loaded || gen != generation || !events) return;
      if (c == Control::cmdGET)
        events->cmdGET_Click();
      else
        events->CmdChiudi_Click();
    });
    return b;
  };
  button(Control::cmdGET);
  button(Control::CmdChiudi);

  auto* frame = new QGroupBox(form);
  QPalette fp = frame->palette();
  fp.setColor(QPalette::Window, Qt::white);
  fp.setColor(QPalette::WindowText, Qt::black);
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
    if (loaded && gen == generation && events) events->Timer1_Timer();
  });
  timerTimeOut = new QTimer(form);
  timerTimeOut->setInterval(10);
  QObject::connect(timerTimeOut, &QTimer::timeout, form, [this, gen] {
    if (loaded && gen == generation && events) events->TimerTimeOut_Timer();
  });
}

void QtWindow::Impl::ApplySelectionMode() {
  const bool full = (extendedStyle & LVS_EX_FULLROWSELECT_) != 0;
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
  if (bkColor == kClrDefault && barColor == kClrDefault) {
    bar->setPalette(QPalette());
    return;
  }
  QPalette p = bar->palette();
  if (bkColor != kClrDefault) {
    p.setColor(QPalette::Base, FromColorRef(bkColor));
    p.setColor(QPalette::Window, FromColorRef(bkColor));
  }
  if (barColor != kClrDefault) p.setColor(QPalette::Highlight, FromColorRef(barColor));
  bar->setPalette(p);
}

void QtWindow::Impl::ApplyWindowIcon() {
  QIcon icon;
  for (Handle h : {bigIcon, smallIcon}) {
    auto it = iconPixmaps.find(h);
    if (it != iconPixmaps.end()) icon.addPixmap(it->second);
  }
  form->setWindowIcon(icon);
}

QtWindow::QtWindow() : d_(std::make_unique<Impl>()) {
  InitArtwork();
  d_->ResetState();
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
  if (d_->loaded) {
    d_->loaded = false;
    delete d_->form;
  }
  for (QPointer<QWidget>& w : d_->retired) delete w.data();
  if (d_->pointerOverridden) QGuiApplication::restoreOverrideCursor();
}

void QtWindow::Load(FormEvents* events) {
  d_->events = events;
  if (d_->loaded) return;
  ++d_->generation;
  d_->ResetState();
  d_->loaded = true;
  d_->Build();
}

bool QtWindow::Loaded() const { return d_->loaded; }

void QtWindow::Show() {
  d_->RequireLoaded();
  QWidget* form = d_->form;
  form->show();
  // The keyboard focus starts on the first control in tab order that takes it.
  if (!form->focusWidget())
    for (Control c : {Control::cmdGET, Control::CmdChiudi, Control::FileList})
      if (d_->enabled[Idx(c)]) {
        d_->widgets[Idx(c)]->setFocus(Qt::OtherFocusReason);
        break;
      }
  // Platforms without a window manager never activate the window; the first
  // turn of the event loop after showing stands in for the activation.
  const unsigned gen = d_->generation;
  QTimer::singleShot(0, form, [this, gen] { d_->FireActivate(gen); });
}

void QtWindow::Unload() {
  if (!d_->loaded) return;
  d_->loaded = false;
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
  d_->ResetState();
}

void QtWindow::SetCaption(Control c, const std::string& text) {
  d_->RequireLoaded();
  if (!HasCaption(c)) throw VbError(errNoSuchProperty, "Object doesn't support this property");
  std::string& current = d_->captions[Idx(c)];
  if (current == text) return;
  current = text;
  d_->ShowCaption(c);
}

std::string QtWindow::Caption(Control c) const {
  d_->RequireLoaded();
  if (!HasCaption(c)) throw VbError(errNoSuchProperty, "Object doesn't support this property");
  return d_->captions[Idx(c)];
}

void QtWindow::SetEnabled(Control c, bool enabled) {
  d_->RequireLoaded();
  if (c == Control::ImageList1)
    throw VbError(errNoSuchProperty, "Object doesn't support this property");
  bool& current = d_->enabled[Idx(c)];
  if (current == enabled) return;
  current = enabled;
  if (QTimer* t = Timer(c)) {
    if (enabled)
      t->start();
    else
      t->stop();
  } else {
    d_->widgets[Idx(c)]->setEnabled(enabled);
  }
}

bool QtWindow::Enabled(Control c) const {
  d_->RequireLoaded();
  if (c == Control::ImageList1)
    throw VbError(errNoSuchProperty, "Object doesn't support this property");
  return d_->enabled[Idx(c)];
}

void QtWindow::SetProgressMax(float max) {
  d_->RequireLoaded();
  // The maximum must lie above the minimum (0).
  if (!(max > 0) || !std::isfinite(max))
    throw VbError(errInvalidProperty, "Invalid property value");
  d_->barMax = max;
  if (d_->barValue > max) d_->barValue = max;
  SetProgressValue(d_->barValue);
}

float QtWindow::ProgressMax() const {
  d_->RequireLoaded();
  return d_->barMax;
}

void QtWindow::SetProgressValue(float value) {
  d_->RequireLoaded();
  if (!(value >= 0) || value > d_->barMax)
    throw VbError(errInvalidProperty, "Invalid property value");
  d_->barValue = value;
  int shown = static_cast<int>(std::lround(double(value) / double(d_->barMax) * kBarSteps));
  if (shown == d_->barShown) return;
  d_->barShown = shown;
  d_->bar->setValue(shown);
}

float QtWindow::ProgressValue() const {
  d_->RequireLoaded();
  return d_->barValue;
}

void QtWindow::SetColumnWidth(int column, int twips) {
  d_->RequireLoaded();
  int i = Impl::ColumnIndex(column);
  if (twips < 0) throw VbError(errInvalidProperty, "Invalid property value");
  d_->columnTwips[i] = twips;
  d_->list->setColumnWidth(i, Px(twips));
}

int QtWindow::ColumnWidth(int column) const {
  d_->RequireLoaded();
  return d_->columnTwips[Impl::ColumnIndex(column)];
}

int QtWindow::AddRow(const std::string& text) {
  d_->RequireLoaded();
  d_->cells.push_back({text, std::string(), std::string(), std::string()});
  d_->rowIcons.push_back(0);
  auto* item = new QTreeWidgetItem();
  item->setText(0, Text(text));
  if (d_->iconsBound) item->setIcon(0, d_->blankIcon);
  d_->list->addTopLevelItem(item);
  return static_cast<int>(d_->cells.size());
}

int QtWindow::RowCount() const {
  d_->RequireLoaded();
  return static_cast<int>(d_->cells.size());
}

void QtWindow::SetSubItem(int row, int subItem, const std::string& text) {
  d_->RequireLoaded();
  int r = d_->RowIndex(row), s = Impl::SubIndex(subItem);
  std::string& current = d_->cells[r][s];
  if (current == text) return;
  current = text;
  d_->list->topLevelItem(r)->setText(s, Text(text));
}

std::string QtWindow::SubItem(int row, int subItem) const {
  d_->RequireLoaded();
  return d_->cells[d_->RowIndex(row)][Impl::SubIndex(subItem)];
}

void QtWindow::SelectRow(int row) {
  d_->RequireLoaded();
  int r = d_->RowIndex(row);
  QModelIndex first = d_->list->model()->index(r, 0);
  const bool full = d_->list->fullRow;
  d_->list->selectionModel()->setCurrentIndex(
      first, full ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                  : QItemSelectionModel::ClearAndSelect);
  d_->list->scrollTo(first);
}

int QtWindow::SelectedRow() const {
  d_->RequireLoaded();
  const QModelIndexList sel = d_->list->selectionModel()->selectedIndexes();
  return sel.isEmpty() ? 0 : sel.first().row() + 1;
}

void QtWindow::SetRowSmallIcon(int row, int image) {
  d_->RequireLoaded();
  if (!d_->iconsBound)
    throw VbError(errImageListNotBound, "ImageList must be initialized before it can be used");
  int r = d_->RowIndex(row);
  if (image < 0 || image > 1) throw VbError(errIndexOutOfBounds, "Index out of bounds");
  if (d_->rowIcons[r] == image) return;
  d_->rowIcons[r] = image;
  d_->list->topLevelItem(r)->setIcon(0, image ? d_->checkIcon : d_->blankIcon);
}

int QtWindow::RowSmallIcon(int row) const {
  d_->RequireLoaded();
  return d_->rowIcons[d_->RowIndex(row)];
}

void QtWindow::BindSmallIcons() {
  d_->RequireLoaded();
  if (d_->iconsBound) return;
  d_->iconsBound = true;
  // Bound small icons take their room in the first column of every row.
  for (int i = 0; i < d_->list->topLevelItemCount(); ++i)
    d_->list->topLevelItem(i)->setIcon(0, d_->blankIcon);
}

Handle QtWindow::WindowHandle(Control c) const {
  if (!d_->loaded) return 0;
  return kFirstWindowHandle + 0x10 * Idx(c);
}

std::intptr_t QtWindow::SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                                     std::intptr_t lParam) {
  if (!d_->loaded) return 0;
  if (window == WindowHandle(Control::FileList)) {
    if (msg == LVM_GETEXTENDEDLISTVIEWSTYLE_) return d_->extendedStyle;
    if (msg == LVM_SETEXTENDEDLISTVIEWSTYLE_) {
      const unsigned old = d_->extendedStyle;
      const unsigned mask = wParam ? static_cast<unsigned>(wParam) : ~0u;
      d_->extendedStyle = (old & ~mask) | (static_cast<unsigned>(lParam) & mask);
      d_->ApplySelectionMode();
      return old;
    }
  } else if (window == WindowHandle(Control::ProgressBar1)) {
    if (msg == PBM_SETBKCOLOR_ || msg == PBM_SETBARCOLOR_) {
      std::intptr_t& slot = msg == PBM_SETBKCOLOR_ ? d_->bkColor : d_->barColor;
      const std::intptr_t old = slot;
      slot = lParam == kClrDefault ? kClrDefault : (lParam & 0xFFFFFF);
      d_->ApplyBarColors();
      return old;
    }
  } else if (window == WindowHandle(Control::MainForm)) {
    if (msg == WM_SETICON_ && (wParam == ICON_BIG_ || wParam == ICON_SMALL_)) {
      Handle& slot = wParam == ICON_BIG_ ? d_->bigIcon : d_->smallIcon;
      const Handle old = slot;
      slot = lParam;
      d_->ApplyWindowIcon();
      return old;
    }
  }
  return 0;
}

Handle QtWindow::GetWindow(Handle, unsigned) {
  return 0;  // a Qt top-level window has no owner
}

int QtWindow::GetSystemMetrics(int index) {
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
  QWidget* parent = d_->loaded && d_->form->isVisible() ? d_->form : nullptr;
  QMessageBox box(icon, Text(title), Text(text), buttons, parent);
  box.setTextFormat(Qt::PlainText);
  const std::size_t def = std::min<std::size_t>((flags >> 8) & 3, choices.size() - 1);
  box.setDefaultButton(choices[def].button);
  box.exec();
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
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (onPump) onPump();
}

int QtWindow::Run() { return QApplication::exec(); }

QWidget* QtWindow::Widget(Control c) const {
  if (!d_->loaded) return nullptr;
  return d_->widgets[Idx(c)];
}

QTimer* QtWindow::Timer(Control c) const {
  if (!d_->loaded) return nullptr;
  if (c == Control::Timer1) return d_->timer1;
  if (c == Control::TimerTimeOut) return d_->timerTimeOut;
  return nullptr;
}

bool QtWindow::FullRowSelect() const { return d_->loaded && d_->list->fullRow; }

Handle QtWindow::IconHandle(int which) const {
  return which == ICON_BIG_ ? d_->bigIcon : which == ICON_SMALL_ ? d_->smallIcon : 0;
}

QImage QtWindow::IconImage(Handle icon) const {
  auto it = d_->iconPixmaps.find(icon);
  return it == d_->iconPixmaps.end() ? QImage() : it->second.toImage();
}

QImage QtWindow::Grab() const {
  if (!d_->loaded) return QImage();
  return d_->form->grab().toImage();
}

bool QtWindow::SaveScreenshot(const std::string& pngPath) const {
  QImage img = Grab();
  return !img.isNull() && img.save(QString::fromStdString(pngPath), "PNG");
}

}  // namespace ovlu
