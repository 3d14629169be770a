#include "app/syntax_colours.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPointer>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <set>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/panes.h"
#include "app/settings.h"
#include "engine/highlight_palette.h"

namespace marlow {

// A pane's tokens, and the highlighting under way for it.
struct DiffPane::Syntax {
  std::shared_ptr<const LineTokens> tokens;
  // Per row of the document: whether its block has the tokens' colours.
  std::vector<std::uint8_t> coloured;
  // The run that highlights the pane's file, and how it is told to stop.
  std::shared_ptr<std::atomic<bool>> cancel;
  std::unique_ptr<QThread> worker;
  unsigned run = 0;

  void stop() {
    if (cancel) *cancel = true;
    if (worker) worker->wait();
    worker.reset();
    cancel.reset();
  }
  ~Syntax() { stop(); }
};

void DiffPane::SyntaxDeleter::operator()(Syntax* syntax) const { delete syntax; }

namespace {

// The panes that have tokens or wait for them: the switch repaints them.
std::set<DiffPane*>& syntax_panes() {
  static std::set<DiffPane*> panes;
  return panes;
}

int switch_state = -1;  // -1: not yet read from the preference

// Files this large are highlighted only while the processors have nothing
// else to do, so that opening them and working in them never waits for it.
constexpr std::size_t kIdleHighlighting = 256 * 1024;

// The UTF-16 position of each byte offset of a row's UTF-8 text, as the
// row shows it (a carriage return inside the line shown as one mark).
class Utf16Positions {
 public:
  explicit Utf16Positions(const QString& row) : row_(row) {}

  // Offsets must not go down between calls.
  int at(std::size_t byte) {
    while (byte_ < byte && unit_ < row_.size()) {
      const char16_t c = row_[unit_].unicode();
      if (QChar::isHighSurrogate(c) && unit_ + 1 < row_.size()) {
        byte_ += 4;
        unit_ += 2;
        continue;
      }
      byte_ += c == kCarriageReturnMark.unicode() ? 1 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
      ++unit_;
    }
    return static_cast<int>(unit_);
  }

 private:
  const QString& row_;
  std::size_t byte_ = 0;
  qsizetype unit_ = 0;
};

}  // namespace

QColor token_colour(TokenClass kind) {
  const Rgb rgb = token_rgb(kind);
  return QColor(rgb.red, rgb.green, rgb.blue);
}

bool syntax_highlighting_on() {
  if (switch_state < 0) switch_state = syntax_highlighting_preference() ? 1 : 0;
  return switch_state == 1;
}

void set_syntax_highlighting(bool on) {
  if (on == syntax_highlighting_on()) return;
  switch_state = on ? 1 : 0;
  set_syntax_highlighting_preference(on);
  for (DiffPane* pane : syntax_panes()) pane->refresh_syntax_colours();
}

QCheckBox* syntax_highlighting_box(QWidget* parent) {
  auto* box = new QCheckBox(QObject::tr("Syntax highlighting"), parent);
  box->setObjectName(QStringLiteral("syntax_highlighting"));
  box->setToolTip(QObject::tr("Colour keywords, strings, comments and numbers in the text"));
  box->setChecked(syntax_highlighting_on());
  QObject::connect(box, &QCheckBox::toggled, box, [](bool on) { set_syntax_highlighting(on); });
  return box;
}

QAction* add_syntax_highlighting_action(QMenu* menu) {
  QAction* action = menu->addAction(QObject::tr("Syntax highlighting"));
  action->setObjectName(QStringLiteral("syntax_highlighting"));
  action->setCheckable(true);
  action->setChecked(syntax_highlighting_on());
  QObject::connect(action, &QAction::toggled, action, [](bool on) { set_syntax_highlighting(on); });
  return action;
}

DiffPane::~DiffPane() {
  // The highlighting stops (and its thread is waited for) before the pane
  // goes: what it would hand over is dropped with the pane's events.
  syntax_panes().erase(this);
  syntax_.reset();
}

void DiffPane::highlight_syntax(const std::string& file_name, const std::vector<Line>& lines) {
  if (syntax_) syntax_->stop();
  const SyntaxLanguage* language = syntax_for_file(file_name);
  if (language == nullptr) {
    set_line_tokens(nullptr);
    return;
  }
  if (!syntax_) syntax_.reset(new Syntax);
  syntax_panes().insert(this);
  // The thread gets a copy of the text: the window's documents may go
  // before it is done.
  auto text = std::make_shared<std::string>();
  std::size_t bytes = 0;
  for (const Line& line : lines) bytes += line.text.size();
  text->reserve(bytes);
  std::vector<std::size_t> ends;
  ends.reserve(lines.size());
  for (const Line& line : lines) {
    const std::string_view line_text = line.text;
    text->append(line_text.data(), line_text.size());
    ends.push_back(text->size());
  }
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  const unsigned run = ++syntax_->run;
  QPointer<DiffPane> pane(this);
  syntax_->cancel = cancel;
  const bool large = bytes >= kIdleHighlighting;
  syntax_->worker.reset(
      QThread::create([pane, language, text, ends = std::move(ends), cancel, run, large]() mutable {
        std::optional<LineTokens> tokens;
        {
          std::vector<std::string_view> views;
          views.reserve(ends.size());
          std::size_t start = 0;
          for (const std::size_t end : ends) {
            views.emplace_back(text->data() + start, end - start);
            start = end;
          }
          tokens = highlight_lines(*language, views, cancel.get());
        }
        text.reset();
        ends = {};
#if defined(__GLIBC__)
        // The syntax trees were made in this thread's own part of the heap:
        // its free pages go back to the system rather than stay with the
        // client for as long as it runs.
        if (large) malloc_trim(0);
#endif
        if (!tokens || *cancel) return;
        auto shared = std::make_shared<const LineTokens>(std::move(*tokens));
        // The pane waits for this thread before it goes, so it is still there.
        QMetaObject::invokeMethod(
            pane.data(),
            [pane, shared, run] {
              if (!pane || !pane->syntax_ || pane->syntax_->run != run) return;
              pane->syntax_->stop();
              pane->set_line_tokens(shared);
            },
            Qt::QueuedConnection);
      }));
  syntax_->worker->start(large ? QThread::IdlePriority : QThread::LowPriority);
}

void DiffPane::set_line_tokens(std::shared_ptr<const LineTokens> tokens) {
  if (!syntax_) {
    if (!tokens) return;
    syntax_.reset(new Syntax);
    syntax_panes().insert(this);
  }
  syntax_->tokens = std::move(tokens);
  refresh_syntax_colours();
}

const LineTokens* DiffPane::line_tokens() const {
  return syntax_ ? syntax_->tokens.get() : nullptr;
}

void DiffPane::refresh_syntax_colours() {
  if (!syntax_) return;
  // The colours go from the rows that have them; the rows in view get them
  // again as they are painted.
  QTextDocument* doc = document();
  for (std::size_t row = 0; row < syntax_->coloured.size(); ++row) {
    if (syntax_->coloured[row] == 0) continue;
    QTextBlock block = doc->findBlockByNumber(static_cast<int>(row));
    if (!block.isValid() || block.layout() == nullptr) continue;
    block.layout()->clearFormats();
    doc->markContentsDirty(block.position(), block.length());
  }
  syntax_->coloured.clear();
  viewport()->update();
}

void DiffPane::colour_rows_in_view() {
  if (!syntax_->tokens || !syntax_highlighting_on()) return;
  const LineTokens& tokens = *syntax_->tokens;
  QTextDocument* doc = document();
  const auto rows = static_cast<std::size_t>(doc->blockCount());
  if (syntax_->coloured.size() != rows) syntax_->coloured.assign(rows, 0);
  const qreal bottom = viewport()->height();
  // Laying a block out again tells the view it changed: it is painted now
  // anyway, so the view is not told (and paints nothing twice).
  QAbstractTextDocumentLayout* layout = doc->documentLayout();
  const bool blocked = layout->blockSignals(true);
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    if (row_area(block).top() > bottom) break;
    const auto row = static_cast<std::size_t>(block.blockNumber());
    if (row >= rows || syntax_->coloured[row] != 0) continue;
    syntax_->coloured[row] = 1;
    const int number = line_number(static_cast<int>(row));
    if (number <= 0) continue;
    const std::span<const Token> line = tokens.line(static_cast<std::size_t>(number - 1));
    if (line.empty()) continue;
    const QString text = block.text();
    Utf16Positions at(text);
    QList<QTextLayout::FormatRange> formats;
    formats.reserve(static_cast<qsizetype>(line.size()));
    for (const Token& token : line) {
      const int start = at.at(token.start);
      const int end = at.at(std::size_t{token.start} + token.length);
      if (end <= start) continue;
      QTextLayout::FormatRange range;
      range.start = start;
      range.length = end - start;
      range.format.setForeground(token_colour(token.kind));
      formats.push_back(range);
    }
    if (formats.isEmpty()) continue;
    block.layout()->setFormats(formats);
    doc->markContentsDirty(block.position(), block.length());
  }
  layout->blockSignals(blocked);
}

}  // namespace marlow
