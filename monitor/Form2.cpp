// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port monitor window: layout, the log's change rule and cap, freeze, the command line,
// the help listing and saving the log.
#include "monitor/Form2.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QValidator>
#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "controls/LedLamp.h"
#include "controls/UserAction.h"
#include "monitor/OverwriteFile.h"
#include "protocol/TunerCommands.h"
#include "text/Cp1252.h"

namespace {

constexpr int kMaxLiveRows = 1000;
constexpr int kPanelHeight = 71;
constexpr const char* kLogFileName = "PortMonitor.txt";
// Distinct entries whose rows are remembered; beyond that the memory starts afresh.
constexpr qsizetype kMaxRememberedShapes = 4096;

constexpr const char* kHelpLines[] = {
    "????",
    "CMEM         - clear memory",
    "Port_C ?/xxx - xxx - binary",
    "Port_L ?/xxx - xxx - binary",
    "SWRmin ?/xx  - xx - SWRx10",
    "MaxFWD ?/xxx - xxx - power in ADC,",
    "               10W about 500, default=700",
    "RDelay ?/xx  - xx - delay in ms",
    "               typical 10-12ms",
    "HELP         - this info",
    "vorpalitis",
    "KVL_tonic",
};

// A logged line may hold any byte. Control bytes would break the entry into several editor
// lines or vanish from view, so they are shown as their Unicode control pictures and mapped
// back when the log is saved; every other byte is its Windows-1252 character.
constexpr char16_t kControlPictures = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;

QString ToDisplay(std::string_view bytes) {
  QString text = FromCp1252(bytes);
  for (QChar& c : text) {
    const char16_t unit = c.unicode();
    if (unit < 0x20) {
      c = QChar(static_cast<char16_t>(kControlPictures + unit));
    } else if (unit == 0x7F) {
      c = QChar(kDeletePicture);
    }
  }
  return text;
}

std::string FromDisplay(QString text) {
  for (QChar& c : text) {
    const char16_t unit = c.unicode();
    if (unit >= kControlPictures && unit < kControlPictures + 0x20) {
      c = QChar(static_cast<char16_t>(unit - kControlPictures));
    } else if (unit == kDeletePicture) {
      c = QChar(char16_t{0x7F});
    }
  }
  return ToCp1252(text);
}

QFont LogFont() {
  QFont font("Courier New");
  font.setPixelSize(13);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

QFont WindowFont() {
  QFont font;
  // Where the window font is missing, a face with Arial's metrics keeps the captions within
  // their design sizes; the platform's default sans face runs wider.
  font.setFamilies({"MS Sans Serif", "Arial", "Liberation Sans"});
  font.setPixelSize(11);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QPlainTextDocumentLayout* LayoutOf(const QPlainTextEdit* memo) {
  return qobject_cast<QPlainTextDocumentLayout*>(memo->document()->documentLayout());
}

int RowsOf(const QPlainTextEdit* memo, const QTextBlock& block) {
  LayoutOf(memo)->ensureBlockLayout(block);
  return block.layout()->lineCount();
}

// A hidden widget keeps its resize events pending until it is shown; the log counts the rows
// it would display, so its editor has to know its real width even while the window is hidden.
void DeliverPendingResize(QWidget* widget) {
  if (widget->testAttribute(Qt::WA_PendingResizeEvent)) {
    widget->setAttribute(Qt::WA_PendingResizeEvent, false);
    QResizeEvent resize(widget->size(), QSize());
    QCoreApplication::sendEvent(widget, &resize);
  }
  for (QObject* child : widget->children()) {
    auto* childWidget = qobject_cast<QWidget*>(child);
    if (childWidget != nullptr && !childWidget->isWindow()) DeliverPendingResize(childWidget);
  }
}

void SetUpLogField(QPlainTextEdit* memo) {
  memo->setFont(LogFont());
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  // Always shown, so that the wrap width, and with it the row count, does not depend on
  // whether the log overflows.
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->setTabChangesFocus(true);
  // Appended lines are not the operator's edits and must not be undone by Ctrl+Z.
  memo->setUndoRedoEnabled(false);
  memo->setContextMenuPolicy(Qt::CustomContextMenu);
}

// A plain widget reads as a pane to assistive technologies; this one is a window of its own.
QAccessibleInterface* MonitorWindowAccessible(const QString&, QObject* object) {
  auto* window = dynamic_cast<TForm2*>(object);
  return window != nullptr ? new QAccessibleWidget(window, QAccessible::Window) : nullptr;
}

// Keeps the command line to one line, as a single-line field does: of a text inserted with
// line breaks (a paste, a drop) only its first line stays, so what the field shows is what
// Enter sends.
class TFirstLineValidator : public QValidator {
 public:
  using QValidator::QValidator;

  State validate(QString& input, int& pos) const override {
    static const QRegularExpression lineBreaks("[\\r\\n]");
    const qsizetype lineBreak = input.indexOf(lineBreaks);
    if (lineBreak < 0) return Acceptable;
    // The field held no line break before, so the first one lies in the inserted text, which
    // ends at the caret; what followed the caret is kept.
    QString after = pos > lineBreak ? input.mid(pos) : QString();
    if (const qsizetype stray = after.indexOf(lineBreaks); stray >= 0) after.truncate(stray);
    input.truncate(lineBreak);
    input += after;
    pos = static_cast<int>(lineBreak);
    return Acceptable;
  }
};

template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F action) : Action(std::move(action)) {}
  ~ScopeExit() { Action(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F Action;
};

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  static const bool accessible = [] {
    QAccessible::installFactory(&MonitorWindowAccessible);
    return true;
  }();
  (void)accessible;
  setWindowTitle("Port Monitor");
  // The main window alone keeps the program running.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFont(WindowFont());
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);

  Memo1 = new QPlainTextEdit(this);
  Memo2 = new QPlainTextEdit(this);
  SetUpLogField(Memo1);
  SetUpLogField(Memo2);
  Memo2->hide();

  Panel1 = new QFrame(this);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setAutoFillBackground(true);
  Button2 = new QPushButton("Clear", Panel1);
  Button2->setGeometry(232, 40, 51, 25);
  Edit1 = new QLineEdit(Panel1);
  Edit1->setGeometry(80, 8, 129, 21);
  // A command has no length limit of its own (the field's default would cut a paste).
  Edit1->setMaxLength(std::numeric_limits<int>::max());
  Edit1->setValidator(new TFirstLineValidator(Edit1));
  CheckBox1 = new QCheckBox("Autoscroll", Panel1);
  CheckBox1->setChecked(true);
  StaticText1 = new QLabel("Lines with '-'  - sent to PA", Panel1);
  StaticText2 = new QLabel("Lines with '+' - received from PA", Panel1);
  // The substitute font and the style's check mark may need a few pixels more than the design
  // sizes: the check box may grow up to the command field, the static texts fit their captions.
  CheckBox1->setGeometry(8, 8, std::clamp(CheckBox1->sizeHint().width(), 65, 72), 17);
  StaticText1->setGeometry(8, 32, std::max(122, StaticText1->sizeHint().width()), 17);
  StaticText2->setGeometry(8, 48, std::max(154, StaticText2->sizeHint().width()), 17);

  QWidget::setTabOrder(Button2, Edit1);
  QWidget::setTabOrder(Edit1, CheckBox1);
  QWidget::setTabOrder(CheckBox1, Memo1);
  QWidget::setTabOrder(Memo1, Memo2);

  PopupMenu1 = new QMenu(this);
  Clear1 = PopupMenu1->addAction("Clear");
  N1 = PopupMenu1->addSeparator();
  Send1 = PopupMenu1->addAction("Send ???");
  N2 = PopupMenu1->addSeparator();
  Savealltofile1 = PopupMenu1->addAction("Save all to file");

  // Handlers that can fail report through the program's error display.
  auto guarded = [this](void (TForm2::*handler)()) {
    return [this, handler] { RunUserAction([this, handler] { (this->*handler)(); }); };
  };
  connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { OperatorEditedLive(); });
  connect(Memo2, &QPlainTextEdit::textChanged, this, [this] { OperatorEditedFrozen(); });
  for (QPlainTextEdit* memo : {Memo1, Memo2}) {
    connect(memo, &QWidget::customContextMenuRequested, this, [this, memo](const QPoint& at) {
      PopupMenu1->popup(memo->viewport()->mapToGlobal(at));
    });
  }
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Clear1Click(); });
  connect(Clear1, &QAction::triggered, this, [this] { Clear1Click(); });
  connect(Send1, &QAction::triggered, this, guarded(&TForm2::Send1Click));
  connect(Savealltofile1, &QAction::triggered, this, guarded(&TForm2::Savealltofile1Click));
  Edit1->installEventFilter(this);
  Memo1->installEventFilter(this);

  // Names for assistive technologies; the buttons and the check box go by their captions.
  Memo1->setAccessibleName("Log");
  Memo1->setAccessibleDescription("Lines with - were sent to the tuner, lines with + received");
  Memo2->setAccessibleName("Frozen log");
  Memo2->setAccessibleDescription("The log as it was when Autoscroll was switched off");
  Edit1->setAccessibleName("Command");
  Edit1->setAccessibleDescription("Sent to the tuner on Enter; HELP lists the commands");

  move(524, 263);
  resize(290, 263);
  ensurePolished();
  LayOutControls();
}

TForm2::~TForm2() = default;

void TForm2::SetActivityLamps(TLedLamp* txd, TLedLamp* rxd) {
  TxdLamp = txd;
  RxdLamp = rxd;
}

void TForm2::LogLine(TLogDirection direction, std::string_view text) {
  AppendLog(ToDisplay(TunerCommands::LogForm(direction, text)));
}

void TForm2::LogNote(std::string_view text) {
  AppendLog(ToDisplay(text));
}

void TForm2::AppendLog(const QString& line) {
  LiveRows();  // brings the count up to the current width before the new entry is added
  // A screen reader may read the editor at any time, so it is kept up to date while one listens.
  if (Memo1->isVisible() || QAccessible::isActive()) {
    BringLiveLogUpToDate();
    AppendEntry(Memo1, line, LiveHoldsLines);
    LiveHoldsLines = true;
    LiveRowCount += RowsOf(Memo1, Memo1->document()->lastBlock());
  } else {
    const TEntryShape shape = MeasureEntry(line);
    PendingEntries.append(line);
    PendingNewestStart = shape.NewestStart;
    LiveRowCount += shape.Rows;
  }
  Memo1Change();
}

QPlainTextEdit* TForm2::LiveLog() {
  BringLiveLogUpToDate();
  return Memo1;
}

void TForm2::BringLiveLogUpToDate() {
  if (PendingEntries.isEmpty()) return;
  ProgramEdit = true;
  const ScopeExit done([this] { ProgramEdit = false; });
  // The same document as one append per entry would give, laid out once.
  const QTextCursor caret = Memo1->textCursor();
  QTextCursor cursor(Memo1->document());
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  for (const QString& entry : std::as_const(PendingEntries)) {
    if (LiveHoldsLines) {
      cursor.insertBlock(caret.blockFormat(), caret.charFormat());
    } else {
      cursor.setCharFormat(caret.charFormat());
    }
    cursor.insertText(entry);
    LiveHoldsLines = true;
  }
  cursor.endEditBlock();
  PendingEntries.clear();
  // Every append moves the caret to the end.
  Memo1->setTextCursor(cursor);
}

TForm2::TEntryShape TForm2::MeasureEntry(const QString& text) {
  if (MeasureEditor == nullptr) {
    // An editor of its own, never shown: the rows come out as the log's editor lays them out.
    MeasureEditor = std::make_unique<QPlainTextEdit>();
    SetUpLogField(MeasureEditor.get());
    // With what the log inherits from the window, which a window of its own would not.
    MeasureEditor->setFont(Memo1->font());
  }
  if (MeasureEditor->size() != Memo1->size()) {
    MeasureEditor->resize(Memo1->size());
    DeliverPendingResize(MeasureEditor.get());
  }
  const int width = Memo1->viewport()->width();
  if (width != ShapeCacheWidth || ShapeCache.size() >= kMaxRememberedShapes) {
    ShapeCache.clear();
    ShapeCacheWidth = width;
  }
  const auto known = ShapeCache.constFind(text);
  if (known != ShapeCache.constEnd()) return *known;

  MeasureEditor->setPlainText(text);
  const QTextBlock block = MeasureEditor->document()->firstBlock();
  TEntryShape shape;
  shape.Rows = RowsOf(MeasureEditor.get(), block);
  if (shape.Rows > 0) {
    const QTextLine lastRow = block.layout()->lineAt(shape.Rows - 1);
    if (lastRow.textLength() > 0) shape.NewestStart = text.at(lastRow.textStart());
  }
  ShapeCache.insert(text, shape);
  return shape;
}

void TForm2::ShowModeless() {
  show();
  raise();
  activateWindow();
}

void TForm2::ShowModal() {
  if (isVisible()) {
    raise();
    activateWindow();
    return;
  }
  QEventLoop loop;
  ModalLoop = &loop;
  setWindowModality(Qt::ApplicationModal);
  const ScopeExit restore([this] {
    ModalLoop = nullptr;
    if (isVisible()) hide();
    setWindowModality(Qt::NonModal);
  });
  ShowModeless();
  loop.exec(QEventLoop::DialogExec);
}

int TForm2::LiveRows() {
  // A window resized while hidden lays out its controls only when shown; the rows are those
  // the log shows at the window's size now.
  if (testAttribute(Qt::WA_PendingResizeEvent)) DeliverPendingResize(this);
  if (RowCountStale || Memo1->viewport()->width() != CountedAtWidth) {
    BringLiveLogUpToDate();
    CountAllRows();
  }
  return LiveRowCount;
}

void TForm2::Memo1Change() {
  QChar newestStart;
  if (!PendingEntries.isEmpty()) {
    newestStart = PendingNewestStart;
  } else if (LiveHoldsLines) {
    const QTextBlock newest = Memo1->document()->lastBlock();
    LayoutOf(Memo1)->ensureBlockLayout(newest);
    const QTextLayout* rows = newest.layout();
    if (rows->lineCount() > 0) {
      const QTextLine lastRow = rows->lineAt(rows->lineCount() - 1);
      if (lastRow.textLength() > 0) newestStart = newest.text().at(lastRow.textStart());
    }
  }
  TLedLamp* lamp = newestStart == u'-' ? TxdLamp : RxdLamp;
  if (lamp != nullptr) lamp->SetValue(!lamp->Value());
  if (LiveRows() > kMaxLiveRows) EmptyLiveLog();
}

void TForm2::CheckBox1Click() {
  if (CheckBox1->isChecked()) {
    Memo2->hide();
    Memo1->show();
    return;
  }
  // The copy is taken row by row as the live log displays them: a wrapped entry becomes one
  // line per row, and each copied row runs the change rule once.
  BringLiveLogUpToDate();
  QStringList rows;
  if (LiveHoldsLines) {
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next()) {
      const QString entry = block.text();
      const int rowCount = RowsOf(Memo1, block);
      const QTextLayout* layout = block.layout();
      for (int i = 0; i < rowCount; ++i) {
        const QTextLine row = layout->lineAt(i);
        rows.append(entry.mid(row.textStart(), row.textLength()));
      }
    }
  }
  EmptyField(Memo2);
  FrozenHoldsLines = false;
  for (const QString& row : rows) {
    AppendEntry(Memo2, row, FrozenHoldsLines);
    FrozenHoldsLines = true;
    Memo1Change();
  }
  Memo2->show();
  Memo1->hide();
  QTextCursor end(Memo2->document());
  end.movePosition(QTextCursor::End);
  Memo2->setTextCursor(end);
}

void TForm2::Clear1Click() {
  EmptyLiveLog();
  EmptyField(Memo2);
  FrozenHoldsLines = false;
}

void TForm2::Send1Click() {
  SendCommand(std::string(TunerCommands::Query));
}

void TForm2::Savealltofile1Click() {
  BringLiveLogUpToDate();
  std::string content;
  if (LiveHoldsLines) {
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next()) {
      content += FromDisplay(block.text());
      content += "\r\n";
    }
  }
  switch (OverwriteFile(kLogFileName, content)) {
    case TOverwriteResult::Written:
      return;
    case TOverwriteResult::CannotCreate:
      throw std::runtime_error(std::string("Cannot create file ") + kLogFileName);
    case TOverwriteResult::CannotWrite:
      throw std::runtime_error(std::string("Cannot write file ") + kLogFileName);
  }
}

void TForm2::Edit1KeyDown(int Key, Qt::KeyboardModifiers /*Shift*/) {
  if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
  const QString text = Edit1->text();
  if (text == "vorpalitis" || text == "KVL_tonic") {
    if (OnRevealForwardPower) OnRevealForwardPower();
  } else if (text == "HELP") {
    for (const char* line : kHelpLines) AppendLog(QString::fromLatin1(line));
  } else if (!text.isEmpty()) {
    // A command that did not go out leaves the text in the field.
    SendCommand(ToCp1252(text));
  }
  Edit1->clear();
}

void TForm2::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOutControls();
}

void TForm2::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (ModalLoop != nullptr) ModalLoop->quit();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo1 && event->type() == QEvent::Show) BringLiveLogUpToDate();
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    RunUserAction([this, key] { Edit1KeyDown(key->key(), key->modifiers()); });
  }
  return QWidget::eventFilter(watched, event);
}

void TForm2::LayOutControls() {
  const int logHeight = std::max(0, height() - kPanelHeight);
  Panel1->setGeometry(0, logHeight, width(), kPanelHeight);
  for (QPlainTextEdit* memo : {Memo1, Memo2}) {
    memo->setGeometry(0, 0, width(), logHeight);
    DeliverPendingResize(memo);
  }
}

void TForm2::AppendEntry(QPlainTextEdit* memo, const QString& text, bool fieldHasLines) {
  ProgramEdit = true;
  const ScopeExit done([this] { ProgramEdit = false; });
  if (fieldHasLines && memo->document()->isEmpty()) {
    // The field holds one empty line, which appendPlainText would take for no line at all.
    QTextCursor cursor(memo->document());
    cursor.insertBlock();
    cursor.insertText(text);
  } else {
    // appendPlainText spares the editor a full relayout and repaint of its view.
    memo->appendPlainText(text);
  }
  // A caret at the end stays there through an append. A hidden field has nothing to scroll,
  // and the editor brings the caret into view when it is shown again after an append; moving
  // the caret anew would cost each hidden append a third of its time.
  if (!memo->isVisible() && memo->textCursor().atEnd()) return;
  QTextCursor end = memo->textCursor();
  end.movePosition(QTextCursor::End);
  memo->setTextCursor(end);
}

void TForm2::EmptyField(QPlainTextEdit* memo) {
  ProgramEdit = true;
  const ScopeExit done([this] { ProgramEdit = false; });
  memo->clear();
}

void TForm2::EmptyLiveLog() {
  PendingEntries.clear();
  EmptyField(Memo1);
  LiveHoldsLines = false;
  LiveRowCount = 0;
  RowCountStale = false;
  CountedAtWidth = Memo1->viewport()->width();
}

void TForm2::CountAllRows() {
  LiveRowCount = 0;
  if (LiveHoldsLines) {
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next()) {
      LiveRowCount += RowsOf(Memo1, block);
    }
  }
  RowCountStale = false;
  CountedAtWidth = Memo1->viewport()->width();
}

void TForm2::OperatorEditedLive() {
  if (ProgramEdit) return;
  LiveHoldsLines = !Memo1->document()->isEmpty();
  RowCountStale = true;
  Memo1Change();
}

void TForm2::OperatorEditedFrozen() {
  if (ProgramEdit) return;
  FrozenHoldsLines = !Memo2->document()->isEmpty();
  Memo1Change();
}

void TForm2::SendCommand(const std::string& command) {
  // The main window writes the command and logs it once the write has succeeded.
  if (OnSendCommand) OnSendCommand(command);
}
