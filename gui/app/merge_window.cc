#include "app/merge_window.h"

#include "app/give_back_memory.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStringList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>

#include "app/commands.h"
#include "app/find_bar.h"
#include "app/keys.h"
#include "app/overview.h"
#include "app/panes.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
#include "app/window_fit.h"
#include "app/wrap.h"
#include "engine/inline_diff.h"
#include "serve/files.h"
#include "serve/xmlrpc.h"

namespace marlow {
namespace {

// Row colours. Conflicts are red while unsettled and blue once settled; the
// current conflict is a stronger shade of either; clean changes are green,
// stronger on the contributors that made them.
const QColor kConflict(255, 205, 205);
const QColor kConflictCurrent(255, 150, 135);
const QColor kSettled(215, 225, 255);
const QColor kSettledCurrent(165, 185, 255);
// The sides a settled conflict did not take.
const QColor kNotTaken(232, 232, 236);
const QColor kNotTakenCurrent(200, 200, 210);
// Settled by the merge engine, not yet looked at by the user: violet.
const QColor kAutomatic(235, 215, 250);
const QColor kAutomaticCurrent(205, 165, 240);
const QColor kCleanChange(200, 240, 200);
const QColor kCleanUnchanged(232, 246, 232);
const QColor kFillerRow(236, 236, 236);
// Changed words and characters, painted over the row colours.
const QColor kChangedCharacters(255, 170, 40, 110);
// A clean change the user rejected: the result keeps the base's lines.
const QColor kRejectedChange(240, 222, 190);

// A filler row inside a coloured region: the region's colour, greyed, so
// that a side with fewer lines still shows where the region lies.
QColor filler_in(const QColor& region) {
  if (!region.isValid()) return kFillerRow;
  return QColor((region.red() + kFillerRow.red()) / 2, (region.green() + kFillerRow.green()) / 2,
                (region.blue() + kFillerRow.blue()) / 2);
}

// A suggestion shown in the result, not yet accepted: grey italics.
QTextCharFormat suggestion_format() {
  QTextCharFormat format;
  format.setFontItalic(true);
  format.setForeground(QColor(105, 105, 115));
  return format;
}

QString css(const QColor& colour) { return colour.name(QColor::HexRgb); }

// The last component of a path (either separator), for short button texts.
QString file_part(const std::string& name) {
  const std::size_t cut = name.find_last_of("/\\");
  const std::string part = cut == std::string::npos ? name : name.substr(cut + 1);
  return q(part.empty() ? name : part);
}

// Row `row` of one set of region rows as the same place in another: the
// same region, the same offset into it as far as the other has rows.
template <typename Rows>
int map_row(const std::vector<Rows>& from, const std::vector<Rows>& to, int row) {
  if (from.empty() || to.size() != from.size()) return 0;
  auto after = std::upper_bound(from.begin(), from.end(), row,
                                [](int r, const Rows& rows) { return r < rows.first; });
  const std::size_t region =
      after == from.begin() ? 0 : static_cast<std::size_t>(after - from.begin()) - 1;
  const int offset = std::max(0, row - from[region].first);
  return to[region].first + std::min(offset, std::max(0, to[region].count - 1));
}

int visible_rows(QPlainTextEdit* edit) {
  const int spacing = std::max(1, edit->fontMetrics().lineSpacing());
  return std::max(1, edit->viewport()->height() / spacing);
}

// The top row to give a view so that rows [first, first+count) are in its
// middle, or start near its top when they do not fit.
int top_for_rows(QPlainTextEdit* edit, int first, int count) {
  const int room = visible_rows(edit);
  const int margin = count < room ? (room - count) / 2 : std::min(2, room / 4);
  return std::max(0, first - margin);
}

// A tab `columns` spaces wide in a plain editor (the panes set their own).
void set_editor_tab_width(QPlainTextEdit* edit, int columns) {
  edit->setTabStopDistance(QFontMetricsF(edit->font()).horizontalAdvance(QLatin1Char(' ')) *
                           columns);
}

QPlainTextEdit* make_editor(QWidget* parent) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont font(QStringLiteral("monospace"));
  font.setStyleHint(QFont::TypeWriter);
  edit->setFont(font);
  set_editor_tab_width(edit, tab_width_preference());
  return edit;
}

// The editor's text as typed. toPlainText() would turn no-break spaces into
// plain ones and line separators into line breaks, changing characters the
// user never touched.
QString typed_text(const QPlainTextEdit* edit) {
  QString text = edit->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return text;
}

// Sets an editor's prompt, shown while it is empty. The editor repaints
// by itself only when the prompt appears or goes, not when just its text
// changes, which would leave the prompt of the conflict before on screen.
void set_prompt(QPlainTextEdit* edit, const QString& text) {
  if (edit->placeholderText() == text) return;
  edit->setPlaceholderText(text);
  edit->viewport()->update();
}

QLabel* heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

}  // namespace

MergeWindow::MergeWindow(Job job, Finish finish)
    : job_(std::move(job)), answer_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Merge - %1").arg(q(job_.request.out_path)));
  // What the window shows of the files themselves, worked out before
  // their lines move into the session: how each is stored, and how the
  // output will be.
  for (std::size_t s = 0; s < job_.docs.size(); ++s) {
    const bool absent =
        s < job_.request.contributors.size() && is_absent(job_.request.contributors[s]);
    file_notes_.push_back(file_note(job_.docs[s], absent));
  }
  const TextDocument stored = output_document(job_, {});
  stored_.encoding = stored.encoding;
  stored_.bom = stored.bom;
  conversion_ = output_conversion(job_);
  std::vector<std::vector<Line>> texts;
  for (TextDocument& doc : job_.docs) texts.push_back(std::move(doc.lines));
  session_ = std::make_unique<MergeSession>(
      std::move(texts),
      IgnoreOptions{ignore_whitespace_preference(), ignore_line_ends_preference()});
  session_->set_observer(this);
  session_->set_advance_after_take(advance_after_take_preference());
  plan_regions();
  make_commands();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(make_conflict_bar());
  layout->addWidget(make_automatic_note());
  layout->addLayout(make_output_line());
  auto* splitter = new QSplitter(Qt::Vertical, this);
  make_pane_area(splitter);
  make_result_area(splitter);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  splitter->setChildrenCollapsible(false);
  layout->addWidget(splitter, 1);
  std::vector<QPlainTextEdit*> searched = panes_;
  searched.push_back(result_view_);
  find_bar_ = new FindBar(this, searched);
  layout->addWidget(find_bar_);
  layout->addLayout(make_actions());
  connect_buttons();
  add_context_menus();

  if (wrap_->isChecked()) sync_->set_wrapping(true);
  build_panes();
  build_result_view();
  if (no_conflicts()) {
    disable_conflict_controls();
  } else {
    // The keys start in the first pane, where Tab goes on to the controls;
    // in the text views Tab would type a tab into the result.
    panes_.front()->setFocus();
  }
  fit_to_screen(this, QStringLiteral("merge"), QSize(1400, 950));
  refresh(true, true);
}

void MergeWindow::plan_regions() {
  returns_inside_lines_ =
      std::any_of(session_->texts().begin(), session_->texts().end(),
                  [](const std::vector<Line>& lines) { return has_returns_inside_lines(lines); });
  clean_at_ = kNone;
  editing_clean_ = false;
}

void MergeWindow::make_commands() {
  Commands& c = commands_;
  const auto command = [this](const QString& text, const QList<QKeySequence>& keys,
                              const QString& what, auto&& slot) {
    return add_command(this, text, keys, std::forward<decltype(slot)>(slot), what);
  };
  c.previous = command(tr("Previous conflict"), {keys::previous(), keys::previous_too()},
                       tr("Go to the previous conflict"), [this] {
                         if (current_conflict() > 0) go_to_conflict(current_conflict() - 1);
                       });
  c.previous->setIconText(tr("&Previous conflict"));
  c.next = command(tr("Next conflict"), {keys::next(), keys::next_too()},
                   tr("Go to the next conflict"),
                   [this] { go_to_conflict(current_conflict() + 1); });
  c.next->setIconText(tr("&Next conflict"));
  c.next_unresolved =
      command(tr("Next unresolved conflict"), {keys::next_unresolved()},
              tr("Go to the next conflict not yet settled"), [this] { go_to_unresolved(true); });
  c.next_unresolved->setIconText(tr("Next unresol&ved"));
  c.previous_unresolved = command(tr("Previous unresolved conflict"), {keys::previous_unresolved()},
                                  tr("Go to the previous conflict not yet settled"),
                                  [this] { go_to_unresolved(false); });
  c.next_clean_change = command(tr("Next clean change"), {keys::next_clean_change()},
                                tr("Go to the next clean change"),
                                [this] { go_to_clean_change(true); });
  c.previous_clean_change = command(tr("Previous clean change"), {keys::previous_clean_change()},
                                    tr("Go to the previous clean change"),
                                    [this] { go_to_clean_change(false); });
  const std::size_t first = plan().has_base ? 1 : 0;
  for (std::size_t s = 0; s < job_.docs.size(); ++s) {
    const QString name = side_name(s);
    QAction* taking = command(tr("Take %1 for this conflict").arg(name), {keys::take(s)},
                            tr("Keep the lines of %1 for this conflict")
                                .arg(q(job_.request.display_names[s])),
                            [this, s] { take(s); });
    taking->setIconText(plan().has_base && s == 0
                          ? tr("Take base")
                          : tr("Take %1").arg(file_part(job_.request.display_names[s])));
    c.take.push_back(taking);
    c.take_remaining.push_back(
        command(tr("Take %1 for every conflict still unresolved").arg(name),
                {keys::take_remaining(s)},
                tr("Take %1 for every conflict still unresolved").arg(name),
                [this, s] { take_remaining(s); }));
    // A block of a conflict comes from one of the two sides that changed it.
    c.take_block.push_back(
        s < first || s > first + 1
            ? nullptr
            : command(tr("Take %1 for this block only").arg(name), {keys::take_block(s)},
                      tr("Take %1 for the block of the conflict under the cursor only").arg(name),
                      [this, s] { take_block(s); }));
  }
  const std::size_t changed_sides = job_.docs.size() - first;
  const QString take_all_text = changed_sides == 2 ? tr("Take &both") : tr("Take &all changes");
  c.take_all = command(tr("%1 for this conflict").arg(QString(take_all_text).remove('&')),
                       {keys::take_all()},
                       tr("Keep the lines of every contributor that changed this conflict, one "
                          "after the other in their order"),
                       [this] { take_all(); });
  c.take_all->setIconText(take_all_text);
  c.take_all_other_first = command(tr("Take every changed side, the other side first"),
                                   {keys::take_all_other_first()},
                                   tr("Take every changed side's lines, the other side's first"),
                                   [this] { take_all_other_first(); });
  c.take_lines = command(
      tr("Take these lines"), {keys::take_lines()},
      tr("Take the lines selected in a pane for the conflict (again: leave them out)"),
      [this] { take_lines(); });
  c.unresolve = command(tr("Unresolve this conflict"), {}, tr("Put this conflict back to unsettled"),
                        [this] { unresolve(); });
  c.unresolve->setIconText(tr("&Unresolve"));
  c.accept_suggestion = command(tr("Accept the suggestion shown"), {keys::accept_suggestion()},
                                tr("Accept the suggestion shown for the conflict"),
                                [this] { accept_suggestion(); });
  c.next_suggestion = command(tr("Next suggestion"), {keys::next_suggestion()},
                              tr("Show the conflict's next suggestion"),
                              [this] { cycle_suggestion(1); });
  c.previous_suggestion = command(tr("Previous suggestion"), {keys::previous_suggestion()},
                                  tr("Show the conflict's previous suggestion"),
                                  [this] { cycle_suggestion(-1); });
  // Described by what it does either way: its text turns with the choice.
  c.toggle_clean_change = command(tr("Reject this clean change"), {keys::toggle_clean_change()},
                                  tr("Keep the base's lines instead of the clean change last "
                                     "clicked in a pane or the result, or accept it again"),
                                  [this] { toggle_clean_change(); });
  c.toggle_clean_change->setIconText(tr("Reject clean c&hange"));
  c.undo = command(tr("Undo"), QKeySequence::keyBindings(QKeySequence::Undo),
                   tr("Take back the last take, unsettling or typing"), [this] { undo(); });
  c.undo->setIconText(tr("Un&do"));
  c.redo = command(tr("Redo"), {keys::redo(), keys::redo_too()},
                   tr("Do again what was taken back"), [this] { redo(); });
  c.redo->setIconText(tr("&Redo"));
  // With conflicts open, saving shows one of them and says how many.
  c.save = command(tr("Save"), QKeySequence::keyBindings(QKeySequence::Save),
                   tr("Write the merged result to the output"), [this] { save(); });
  c.save->setIconText(tr("&Save"));
  c.save_unfinished = command(tr("Save with markers"), {},
                              tr("Write the result with the conflicts still open between conflict "
                                 "markers (<<<<<<< ... >>>>>>>), to finish later; the merge does "
                                 "not count as done"),
                              [this] { save_unfinished(); });
  c.save_unfinished->setIconText(tr("Save with mar&kers"));
  c.save_as = command(tr("Save as copy..."), {keys::save_as()},
                      tr("Write a copy of the result to a file you choose, with the open "
                         "conflicts between conflict markers; the output is not written"),
                      [this] { save_as(); });
  c.save_as->setIconText(tr("Save as cop&y..."));
  c.save_and_close = command(tr("Save and close"), {},
                             tr("Write the merged result and close (Enter)"), [this] {
                               if (save()) close();
                             });
  c.save_and_close->setIconText(tr("Save and c&lose"));
  c.close = command(tr("Close"), {keys::close()},
                    tr("Close; the output is left as it is unless saved"), [this] { close(); });
  c.close->setIconText(tr("&Close"));
}

void MergeWindow::update_actions() {
  const Commands& c = commands_;
  if (c.close == nullptr) return;  // still being made
  const bool any = !no_conflicts();
  const std::size_t current = current_conflict();
  const std::size_t open = unresolved_count();
  c.previous->setEnabled(any && current > 0);
  c.next->setEnabled(any && current + 1 < session_->conflict_count());
  c.next_unresolved->setEnabled(open > 0);
  c.previous_unresolved->setEnabled(open > 0);
  const bool any_clean = std::any_of(plan().regions.begin(), plan().regions.end(),
                                     [](const Region& r) { return r.kind == RegionKind::changed; });
  c.next_clean_change->setEnabled(any_clean);
  c.previous_clean_change->setEnabled(any_clean);
  for (QAction* taking : c.take) taking->setEnabled(any);
  for (QAction* taking : c.take_remaining) taking->setEnabled(open > 0);
  for (QAction* taking : c.take_block) {
    if (taking != nullptr) taking->setEnabled(any);
  }
  c.take_all->setEnabled(any);
  c.take_all_other_first->setEnabled(any);
  c.take_lines->setEnabled(any);
  const bool settled = any && session_->resolution(current).kind != Resolution::Kind::unresolved;
  const bool automatic = any && settled_automatically(current);
  c.unresolve->setEnabled(settled);
  c.unresolve->setText(automatic ? tr("Undo automatic settlement")
                                 : tr("Unresolve this conflict"));
  c.unresolve->setIconText(automatic ? tr("&Undo automatic settlement") : tr("&Unresolve"));
  const SuggestionPicks& picks = session_->suggestion_picks();
  const bool showing = any && showing_suggestion(current);
  const bool accepted = any && picks.settled_by_suggestion(current, session_->resolution(current));
  const bool several = any && picks.suggestions(current).size() > 1;
  c.accept_suggestion->setEnabled(showing);
  c.next_suggestion->setEnabled((showing || accepted) && several);
  c.previous_suggestion->setEnabled((showing || accepted) && several);
  const bool clean = clean_at_ < plan().regions.size();
  const bool accept = clean && !clean_change_kept(clean_at_);
  c.toggle_clean_change->setEnabled(clean);
  c.toggle_clean_change->setText(accept ? tr("Accept this clean change")
                                        : tr("Reject this clean change"));
  c.toggle_clean_change->setIconText(accept ? tr("Accept clean change")
                                            : tr("Reject clean c&hange"));
  c.undo->setEnabled(can_undo());
  c.redo->setEnabled(can_redo());
  c.save_unfinished->setEnabled(open > 0);
  c.save_and_close->setEnabled(open == 0);
}

QHBoxLayout* MergeWindow::make_conflict_bar() {
  // Navigation, status and the choices for the current conflict.
  auto* bar = new QHBoxLayout();
  status_ = heading(QString(), this);
  unresolve_button_ = command_button(commands_.unresolve, this);
  advance_box_ = new QCheckBox(tr("&Go on after a take"), this);
  advance_box_->setObjectName(QStringLiteral("advance_after_take"));
  advance_box_->setToolTip(
      tr("A side taken for a conflict moves on to the next conflict not "
         "yet settled (remembered)"));
  advance_box_->setChecked(session_->advance_after_take());
  bar->addWidget(command_button(commands_.previous, this));
  bar->addWidget(command_button(commands_.next, this));
  bar->addWidget(command_button(commands_.next_unresolved, this));
  bar->addSpacing(12);
  bar->addWidget(status_);
  bar->addStretch();
  bar->addWidget(command_button(commands_.take_all, this));
  bar->addWidget(unresolve_button_);
  bar->addWidget(advance_box_);
  return bar;
}

QLabel* MergeWindow::make_automatic_note() {
  // For a conflict the engine settled: how, and what each side did.
  automatic_note_ = new QLabel(this);
  automatic_note_->setObjectName(QStringLiteral("automatic_note"));
  automatic_note_->setWordWrap(true);
  automatic_note_->setStyleSheet(
      QStringLiteral("background-color:%1; padding:3px").arg(css(kAutomatic)));
  return automatic_note_;
}

QLabel* MergeWindow::make_legend() {
  auto* legend = new QLabel(this);
  legend->setTextFormat(Qt::RichText);
  const auto swatch = [](const QColor& colour, const QString& text) {
    return QStringLiteral("<span style=\"background-color:%1\">&nbsp;%2&nbsp;</span>")
        .arg(css(colour), text.toHtmlEscaped());
  };
  legend->setObjectName(QStringLiteral("legend"));
  legend->setText(swatch(kConflict, tr("conflict")) + ' ' +
                  swatch(kConflictCurrent, tr("current conflict")) + ' ' +
                  swatch(kSettled, tr("settled or edited")) + ' ' +
                  swatch(kNotTaken, tr("side not taken")) + ' ' +
                  swatch(kAutomatic, tr("settled automatically")) + ' ' +
                  swatch(kCleanChange, tr("clean change")) + ' ' +
                  swatch(kRejectedChange, tr("rejected change")));
  return legend;
}

QHBoxLayout* MergeWindow::make_output_line() {
  // The output, shortened in its middle when the path is long, and the
  // colours' legend, which keeps its room.
  auto* line = new QHBoxLayout();
  // How it will be stored; each line keeps the line end it has.
  QString how = QString::fromLatin1(encoding_name(stored_.encoding));
  if (stored_.bom) how += QStringLiteral(" \u00B7 ") + tr("BOM");
  if (!conversion_.empty()) how += QStringLiteral(" \u00B7 ") + q(conversion_);
  auto* output = new ElidedLabel(tr("Output: %1 (%2)").arg(q(job_.request.out_path), how), this);
  output->setObjectName(QStringLiteral("output"));
  line->addWidget(output, 1);
  line->addSpacing(12);
  line->addWidget(make_legend());
  return line;
}

void MergeWindow::make_pane_area(QSplitter* splitter) {
  // The contributors' panes, aligned row by row.
  auto* pane_area = new QWidget(splitter);
  auto* columns = new QHBoxLayout(pane_area);
  columns->setContentsMargins(0, 0, 0, 0);
  for (std::size_t s = 0; s < job_.docs.size(); ++s) {
    const bool base = plan().has_base && s == 0;
    auto* column = new QVBoxLayout();
    auto* head = new QHBoxLayout();
    const QString name = q(job_.request.display_names[s]);
    head->addWidget(new ElidedLabel(base ? tr("Base: %1").arg(name) : name, pane_area), 1);
    QPushButton* take_button = command_button(commands_.take[s], pane_area);
    take_button->setMaximumWidth(220);
    head->addWidget(take_button);
    column->addLayout(head);
    // How the file is stored: encoding, byte-order mark, line ends.
    auto* note = new ElidedLabel(file_notes_[s], pane_area);
    note->setObjectName(QStringLiteral("file_note"));
    column->addWidget(note);
    panes_.push_back(new DiffPane(pane_area));
    static_cast<DiffPane*>(panes_.back())
        ->highlight_syntax(s < job_.request.contributors.size() ? job_.request.contributors[s] : "",
                           job_.docs[s].lines);
    // A horizontal scroll bar in every pane at all times: one that came and
    // went with the widest line laid out would give its pane a row less,
    // and the panes would end on different rows.
    panes_.back()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(panes_.back());
    columns->addLayout(column);
  }
  // The whole merge at a glance, right of the panes; a click goes to the
  // conflict nearest to it.
  overview_ = new OverviewStrip(
      pane_area,
      tr("Conflicts and clean changes in the whole merge; "
         "click to go to a conflict"),
      [this](int conflict) { go_to_conflict(static_cast<std::size_t>(conflict)); });
  columns->addWidget(overview_);
  for (QPlainTextEdit* pane : panes_) {
    connect(pane, &QPlainTextEdit::cursorPositionChanged, this, [this, pane] {
      if (moving_) return;
      last_view_ = pane;
      row_clicked(pane_rows_, pane->textCursor().blockNumber(), false);
    });
    pane->installEventFilter(this);
  }
  // Every pane has the same rows, so one scroll position fits them all.
  sync_ = new PaneSync(this);
  for (QPlainTextEdit* pane : panes_) sync_->add_aligned(pane);
  splitter->addWidget(pane_area);
}

void MergeWindow::make_result_area(QSplitter* splitter) {
  // The merged text, editable anywhere, and the editor for the current
  // conflict or clean change.
  auto* result_area = new QSplitter(Qt::Horizontal, splitter);
  auto* whole = new QWidget(result_area);
  auto* whole_layout = new QVBoxLayout(whole);
  whole_layout->setContentsMargins(0, 0, 0, 0);
  whole_layout->addWidget(heading(tr("Merged result (type anywhere)"), whole));
  result_view_ = new DiffPane(whole);
  result_view_->setReadOnly(false);
  result_view_->setTabChangesFocus(false);
  result_view_->setToolTip(tr("Tab types a tab; Ctrl+Tab goes on to the next control"));
  // Dropped text would bypass nothing, but a drag inside the view moves
  // text between regions without the user meaning to.
  result_view_->setAcceptDrops(false);
  whole_layout->addWidget(result_view_);
  connect(result_view_, &QPlainTextEdit::cursorPositionChanged, this, [this] {
    if (moving_) return;
    last_view_ = result_view_;
    row_clicked(result_rows_, result_view_->textCursor().blockNumber(), true);
  });
  connect(result_view_->document(), &QTextDocument::contentsChange, this,
          [this](int position, int removed, int added) { result_typed(position, removed, added); });
  // The result follows the panes region by region, and they it.
  sync_->set_mapped(
      result_view_, [this](int row) { return map_row(pane_rows_, result_rows_, row); },
      [this](int row) { return map_row(result_rows_, pane_rows_, row); });
  auto* edit_area = new QWidget(result_area);
  auto* edit_layout = new QVBoxLayout(edit_area);
  edit_layout->setContentsMargins(0, 0, 0, 0);
  editor_label_ = heading(QString(), edit_area);
  editor_label_->setObjectName(QStringLiteral("editor_heading"));
  edit_layout->addWidget(editor_label_);
  editor_ = make_editor(edit_area);
  // The window keeps one history for takes and typing alike, so that an
  // undo after a take brings back what was typed before it.
  editor_->setUndoRedoEnabled(false);
  editor_->installEventFilter(this);
  editor_->setToolTip(tr("Tab types a tab; Ctrl+Tab goes on to the next control"));
  result_view_->installEventFilter(this);
  edit_layout->addWidget(editor_);
  connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
    if (!updating_) edit_result(typed_text(editor_));
  });
  result_area->addWidget(whole);
  result_area->addWidget(edit_area);
  result_area->setStretchFactor(0, 3);
  result_area->setStretchFactor(1, 2);
  splitter->addWidget(result_area);
}

QHBoxLayout* MergeWindow::make_actions() {
  // The preference and the actions.
  auto* actions = new QHBoxLayout();
  automatic_box_ =
      new QCheckBox(tr("Next time, &merge without a window when there are no conflicts"), this);
  automatic_box_->setObjectName(QStringLiteral("automatic_merge"));
  automatic_box_->setToolTip(
      tr("A merge whose changes all fit together, or whose conflicts the merge engine settles "
         "on its own, is then written to its output at once"));
  automatic_box_->setChecked(automatic_merge_preference());
  connect(automatic_box_, &QCheckBox::toggled, this,
          [](bool on) { set_automatic_merge_preference(on); });
  whitespace_box_ = new QCheckBox(tr("Ignore &whitespace"), this);
  whitespace_box_->setToolTip(
      tr("Lines that differ only in spaces and tabs merge as equal; "
         "starts the merge again (remembered)"));
  whitespace_box_->setChecked(ignore_whitespace_preference());
  line_ends_box_ = new QCheckBox(tr("Ignore line &ends"), this);
  line_ends_box_->setToolTip(
      tr("Lines that differ only in their line ends merge as equal; "
         "starts the merge again (remembered)"));
  line_ends_box_->setChecked(ignore_line_ends_preference());
  auto* tab_width = new QSpinBox(this);
  tab_width->setRange(1, 16);
  tab_width->setValue(tab_width_preference());
  tab_width->setPrefix(tr("Tab width "));
  tab_width->setToolTip(
      tr("How many columns a tab takes in the panes, the result and the "
         "editor (remembered)"));
  connect(tab_width, &QSpinBox::valueChanged, this, [this](int columns) {
    set_tab_width_preference(columns);
    for (QPlainTextEdit* pane : panes_) static_cast<DiffPane*>(pane)->set_tab_width(columns);
    static_cast<DiffPane*>(result_view_)->set_tab_width(columns);
    set_editor_tab_width(editor_, columns);
  });
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("message"));
  message_->setTextFormat(Qt::PlainText);
  clean_button_ = command_button(commands_.toggle_clean_change, this);
  save_unfinished_button_ = command_button(commands_.save_unfinished, this);
  save_close_button_ = command_button(commands_.save_and_close, this);
  save_close_button_->setDefault(true);
  auto* options = new QVBoxLayout();
  options->addWidget(automatic_box_);
  auto* ignore = new QHBoxLayout();
  ignore->addWidget(whitespace_box_);
  ignore->addWidget(line_ends_box_);
  ignore->addWidget(tab_width);
  wrap_ = make_wrap_action(this, [this](bool on) { sync_->set_wrapping(on); });
  ignore->addWidget(wrap_box(wrap_, this));
  ignore->addStretch();
  options->addLayout(ignore);
  options->addLayout(make_save_options());
  actions->addLayout(options);
  // Messages take one line above the buttons, as wide as the room right of
  // the options, shortened to fit: none widens the window or takes rows
  // from the panes.
  message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  message_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  message_->installEventFilter(this);
  auto* right = new QVBoxLayout();
  right->addWidget(message_);
  // Undo, redo and the clean-change choice stand with the other actions:
  // the conflict bar above keeps its room for the status.
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(clean_button_);
  buttons->addWidget(command_button(commands_.undo, this));
  buttons->addWidget(command_button(commands_.redo, this));
  buttons->addWidget(add_shortcuts_help(this));
  buttons->addWidget(save_unfinished_button_);
  buttons->addWidget(command_button(commands_.save, this));
  buttons->addWidget(save_close_button_);
  buttons->addWidget(command_button(commands_.close, this));
  right->addLayout(buttons);
  actions->addLayout(right, 1);
  return actions;
}

void MergeWindow::connect_buttons() {
  connect(advance_box_, &QCheckBox::toggled, this, [this](bool on) {
    set_advance_after_take_preference(on);
    session_->set_advance_after_take(on);
  });
  // Merging again drops the choices made: the user is asked first, and the
  // box goes back when the answer is no.
  const auto ignoring_changed = [this] {
    if (confirm_replan()) {
      set_ignoring(whitespace_box_->isChecked(), line_ends_box_->isChecked());
    } else {
      set_ignoring(session_->ignoring().ignore_whitespace, session_->ignoring().ignore_line_ends);
    }
  };
  connect(whitespace_box_, &QCheckBox::toggled, this, ignoring_changed);
  connect(line_ends_box_, &QCheckBox::toggled, this, ignoring_changed);
}

void MergeWindow::disable_conflict_controls() {
  editor_->setEnabled(false);
  set_prompt(editor_, tr("Nothing to settle."));
  editor_label_->setText(tr("No conflicts"));
  save_close_button_->setDefault(true);
  save_close_button_->setFocus();
}

MergeWindow::~MergeWindow() {
  session_->set_observer(nullptr);
  // A window destroyed without a close event (for example at exit) still answers.
  answer_.give(boolean_reply(saved_));
  give_back_freed_memory_soon();
}

void MergeWindow::build_panes() {
  moving_ = true;
  std::vector<std::vector<Line>> rows(panes_.size());
  std::vector<std::vector<int>> numbers(panes_.size());
  std::vector<std::vector<std::pair<int, QString>>> eol_marks(panes_.size());
  std::vector<std::vector<CharMark>> char_marks(panes_.size());
  pane_rows_.clear();
  int row = 0;
  for (const Region& region : plan().regions) {
    std::size_t height = 0;
    for (const std::vector<Line>& side : region.sides) height = std::max(height, side.size());
    pane_rows_.push_back(Rows{row, static_cast<int>(height)});
    // The changed words and characters of each side against the first
    // pane's (the base's) line on the same row; the first pane shows what
    // any side changed.
    if (region.kind != RegionKind::common) {
      const std::vector<Line>& first_side = region.sides[0];
      for (std::size_t i = 0; i < height && i < first_side.size(); ++i) {
        const LineText& base = first_side[i].text;
        std::vector<TextRange> base_ranges;
        for (std::size_t s = 1; s < panes_.size(); ++s) {
          if (i >= region.sides[s].size()) continue;
          const LineText& other = region.sides[s][i].text;
          if (other == base) continue;
          // Long lines: the stretch where they change.
          InlineDiff d = diff_chars_within_limit(base, other, false, nullptr);
          if (session_->ignoring().ignore_whitespace) drop_blank_ranges(&d, base, other);
          add_marks(&char_marks[s], row + static_cast<int>(i), other, d.other);
          base_ranges.insert(base_ranges.end(), d.base.begin(), d.base.end());
        }
        std::sort(base_ranges.begin(), base_ranges.end(),
                  [](const TextRange& x, const TextRange& y) { return x.start < y.start; });
        std::vector<TextRange> joined;
        for (const TextRange& r : base_ranges) {
          if (!joined.empty() && r.start <= joined.back().start + joined.back().length) {
            joined.back().length =
                std::max(joined.back().start + joined.back().length, r.start + r.length) -
                joined.back().start;
          } else {
            joined.push_back(r);
          }
        }
        add_marks(&char_marks[0], row + static_cast<int>(i), base, joined);
      }
    }
    // Rows whose line ends differ between the sides that have them are
    // marked with each side's line end: otherwise they look identical.
    for (std::size_t i = 0; i < height; ++i) {
      const LineEnd* first = nullptr;
      bool differ = false;
      for (const std::vector<Line>& side : region.sides) {
        if (i >= side.size()) continue;
        if (first == nullptr) first = &side[i].eol;
        differ = differ || side[i].eol != *first;
      }
      if (!differ) continue;
      for (std::size_t s = 0; s < panes_.size(); ++s) {
        if (i < region.sides[s].size()) {
          eol_marks[s].emplace_back(row + static_cast<int>(i),
                                    line_end_label(region.sides[s][i].eol));
        }
      }
    }
    for (std::size_t s = 0; s < panes_.size(); ++s) {
      const std::vector<Line>& lines = region.sides[s];
      rows[s].insert(rows[s].end(), lines.begin(), lines.end());
      rows[s].resize(rows[s].size() + height - lines.size());
      for (std::size_t i = 0; i < height; ++i) {
        numbers[s].push_back(i < lines.size() ? static_cast<int>(region.starts[s] + i) + 1 : 0);
      }
    }
    row += static_cast<int>(height);
  }
  std::vector<QString> texts;
  for (const std::vector<Line>& side_rows : rows) texts.push_back(shown(side_rows));
  std::vector<DiffPane*> side_panes;
  for (QPlainTextEdit* pane : panes_) side_panes.push_back(static_cast<DiffPane*>(pane));
  DiffPane::set_texts(side_panes, texts);
  for (std::size_t s = 0; s < panes_.size(); ++s) {
    static_cast<DiffPane*>(panes_[s])->set_numbers(std::move(numbers[s]));
    static_cast<DiffPane*>(panes_[s])->set_line_end_marks(std::move(eol_marks[s]));
    static_cast<DiffPane*>(panes_[s])->set_overlay_marks(std::move(char_marks[s]),
                                                         kChangedCharacters);
  }
  moving_ = false;
}

int MergeWindow::pane_row_of_conflict(std::size_t conflict) const {
  if (conflict >= session_->conflict_count()) return -1;
  return pane_rows_[session_->region_of_conflict(conflict)].first;
}

int MergeWindow::result_row_of_conflict(std::size_t conflict) const {
  if (conflict >= session_->conflict_count()) return -1;
  return result_rows_[session_->region_of_conflict(conflict)].first;
}

int MergeWindow::change_x() const {
  if (no_conflicts()) return 0;
  const std::size_t r = session_->region_of_conflict(current_conflict());
  const Region& region = plan().regions[r];
  // The leftmost column where the sides' lines part, over the conflict's
  // rows; a row some side lacks differs from its start.
  int x = -1;
  for (int i = 0; i < pane_rows_[r].count; ++i) {
    std::size_t same = std::string::npos;
    const LineText* first = nullptr;
    for (const std::vector<Line>& side : region.sides) {
      if (static_cast<std::size_t>(i) >= side.size()) {
        same = 0;
        break;
      }
      const LineText& text = side[static_cast<std::size_t>(i)].text;
      if (first == nullptr) {
        first = &text;
        continue;
      }
      std::size_t n = 0;
      while (n < text.size() && n < first->size() && text[n] == (*first)[n]) ++n;
      if (n == text.size() && n == first->size()) continue;
      same = std::min(same, n);
    }
    if (same == std::string::npos || first == nullptr) continue;
    // Back to the start of the character, then counted in UTF-16 units.
    while (same > 0 && same < first->size() &&
           (static_cast<unsigned char>((*first)[same]) & 0xC0) == 0x80) {
      --same;
    }
    const int column = static_cast<int>(q(first->substr(0, same)).size());
    const int at =
        static_cast<DiffPane*>(panes_.front())->column_x(pane_rows_[r].first + i, column);
    if (at >= 0 && (x < 0 || at < x)) x = at;
  }
  return std::max(0, x);
}

void MergeWindow::row_clicked(const std::vector<Rows>& rows, int row, bool in_result) {
  for (std::size_t r = 0; r < rows.size() && r < plan().regions.size(); ++r) {
    if (row < rows[r].first || row >= rows[r].first + rows[r].count) continue;
    if (plan().regions[r].kind == RegionKind::changed) {
      if (!editing_clean_ || clean_at_ != r) edit_clean_change(r, !in_result);
      return;
    }
    if (plan().regions[r].kind != RegionKind::conflict) return;
    const std::size_t c = conflict_of_region(r);
    if (c == current_conflict() && !editing_clean_) return;
    session_->set_current(c);
    refresh(in_result, !in_result);
    return;
  }
}

QColor MergeWindow::conflict_colour(std::size_t c) const {
  const bool current = c == current_conflict();
  switch (session_->resolution(c).kind) {
    case Resolution::Kind::unresolved:
      return current ? kConflictCurrent : kConflict;
    case Resolution::Kind::automatic:
      return current ? kAutomaticCurrent : kAutomatic;
    default:
      return current ? kSettledCurrent : kSettled;
  }
}

QString MergeWindow::automatic_note(std::size_t conflict) const {
  const Region& region = plan().regions[session_->region_of_conflict(conflict)];
  const auto side = [&](std::size_t s) {
    const std::vector<Line>& lines = region.sides[s];
    const std::vector<Line>& base = region.sides[0];
    const QString name = file_part(job_.request.display_names[s]);
    if (lines == base) return tr("%1 left these lines as they were").arg(name);
    if (lines.empty())
      return tr("%1 deleted the %n base line(s)", "", static_cast<int>(base.size())).arg(name);
    if (base.empty())
      return tr("%1 added %n line(s)", "", static_cast<int>(lines.size())).arg(name);
    return tr("%1 changed %2 base line(s) into %3").arg(name).arg(base.size()).arg(lines.size());
  };
  QString how;
  switch (region.settled_by) {
    case SettleRule::versions:
      how = tr("both sides raised the same version numbers; the higher ones are kept");
      break;
    case SettleRule::contained:
      how = tr("one side's change is already part of the other side's lines, which are kept");
      break;
    case SettleRule::whitespace:
      how = tr("one side changed only spaces or line ends; the other side's change is kept");
      break;
    case SettleRule::bump:
      how = tr("one side changed only version numbers; the other side's change is kept");
      break;
    case SettleRule::deletion:
      how = tr("one side deleted the lines the other side changed; they stay deleted");
      break;
    case SettleRule::releases:
      how = tr("both sides added a release section here; both are kept, the newer first");
      break;
    case SettleRule::words:
    case SettleRule::touching:
    case SettleRule::characters:
      how = tr("the two sides changed different words; both changes are kept");
      break;
    case SettleRule::none:
      break;
  }
  return tr("Conflict %1 was settled automatically: %2. %3; %4 (see their panes). "
            "Undo it to settle it yourself.")
      .arg(conflict + 1)
      .arg(how, side(1), side(2));
}

void MergeWindow::undo_automatic() {
  if (no_conflicts() || !settled_automatically(current_conflict())) return;
  static_cast<void>(done(session_->undo_automatic()));
}

void MergeWindow::colour_panes() {
  for (std::size_t s = 0; s < panes_.size(); ++s) {
    std::vector<QColor> colours;
    for (std::size_t r = 0; r < plan().regions.size(); ++r) {
      const Region& region = plan().regions[r];
      QColor colour;
      if (region.kind == RegionKind::changed) {
        if (clean_change_rejected(r)) {
          colour = region.changed_by[s] ? kRejectedChange : QColor();
        } else {
          colour = region.changed_by[s] ? kCleanChange : kCleanUnchanged;
        }
      } else if (region.kind == RegionKind::conflict) {
        const std::size_t c = conflict_of_region(r);
        colour = conflict_colour(c);
        // A settled conflict shows which sides it took: blue on those,
        // grey on the others.
        if (!session_->side_taken(c, s))
          colour = c == current_conflict() ? kNotTakenCurrent : kNotTaken;
      }
      // Blocks chosen one by one show the same, block by block.
      // Lines picked one by one show it line by line.
      std::vector<int> blocks;
      if (region.kind == RegionKind::conflict) {
        blocks = session_->block_lines_taken(conflict_of_region(r), s);
        if (blocks.empty()) blocks = session_->picked_lines(conflict_of_region(r), s);
      }
      const bool current =
          region.kind == RegionKind::conflict && conflict_of_region(r) == current_conflict();
      const std::size_t lines = region.sides[s].size();
      for (int i = 0; i < pane_rows_[r].count; ++i) {
        const auto line = static_cast<std::size_t>(i);
        QColor row = colour;
        if (line < blocks.size() && blocks[line] >= 0) {
          row = blocks[line] == 1 ? (current ? kSettledCurrent : kSettled)
                                  : (current ? kNotTakenCurrent : kNotTaken);
        }
        colours.push_back(line >= lines ? filler_in(row) : row);
      }
    }
    static_cast<DiffPane*>(panes_[s])->set_row_backgrounds(std::move(colours));
  }
}

QStringList MergeWindow::result_rows_of(std::size_t region) const {
  QStringList rows;
  const std::optional<std::vector<Line>> lines = session_->region_lines(region);
  if (const Suggestion* suggestion = lines ? nullptr : suggestion_shown(region)) {
    // Its lines, painted as a suggestion (one empty row for none).
    for (const Line& line : suggestion->lines) rows.append(shown_text(line.text));
    if (rows.isEmpty()) rows.append(QString());
  } else if (!lines) {
    // One empty row, which the user may type into; the note beside it is
    // painted, not text, so that nothing typed has to be told from it.
    rows.append(QString());
  } else {
    for (const Line& line : *lines) rows.append(shown_text(line.text));
  }
  return rows;
}

void MergeWindow::build_result_view() {
  QStringList all;
  result_rows_.clear();
  for (std::size_t r = 0; r < plan().regions.size(); ++r) {
    const QStringList rows = result_rows_of(r);
    result_rows_.push_back(Rows{static_cast<int>(all.size()), static_cast<int>(rows.size())});
    all.append(rows);
  }
  moving_ = true;
  result_view_->document()->setUndoRedoEnabled(false);
  // setPlainText gives the whole text the cursor's format: plain, never a
  // suggestion's.
  result_view_->setCurrentCharFormat(QTextCharFormat());
  result_view_->setPlainText(all.join(QLatin1Char('\n')));
  QTextDocument* doc = result_view_->document();
  for (std::size_t r = 0; r < result_rows_.size(); ++r) {
    if (suggestion_shown(r) == nullptr) continue;
    const QTextBlock first = doc->findBlockByNumber(result_rows_[r].first);
    const QTextBlock last =
        doc->findBlockByNumber(result_rows_[r].first + result_rows_[r].count - 1);
    QTextCursor cursor(doc);
    cursor.setPosition(first.position());
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    cursor.setCharFormat(suggestion_format());
  }
  moving_ = false;
}

void MergeWindow::replace_result_rows(std::size_t region) {
  const QStringList rows = result_rows_of(region);
  const Rows old = result_rows_[region];
  const int total = result_rows_.back().first + result_rows_.back().count;
  const int added = static_cast<int>(rows.size()) - old.count;
  QTextDocument* doc = result_view_->document();
  const auto start_of = [doc](int row) { return doc->findBlockByNumber(row).position(); };
  const auto end_of = [doc](int row) {
    const QTextBlock block = doc->findBlockByNumber(row);
    return block.position() + block.length() - 1;
  };
  // Rows are joined by line feeds: the region's separator goes and comes
  // with its rows, on whichever side they have a neighbour.
  const QString text = rows.join(QLatin1Char('\n'));
  const QTextCharFormat format =
      suggestion_shown(region) != nullptr ? suggestion_format() : QTextCharFormat();
  const bool rows_after = old.first + old.count < total;
  QTextCursor cursor(doc);
  if (total == old.count) {  // the region is the whole text
    cursor.select(QTextCursor::Document);
    cursor.insertText(text, format);
  } else if (old.count > 0 && !rows.isEmpty()) {
    cursor.setPosition(start_of(old.first));
    cursor.setPosition(end_of(old.first + old.count - 1), QTextCursor::KeepAnchor);
    cursor.insertText(text, format);
  } else if (old.count > 0) {
    cursor.setPosition(rows_after ? start_of(old.first) : end_of(old.first - 1));
    cursor.setPosition(
        rows_after ? start_of(old.first + old.count) : end_of(old.first + old.count - 1),
        QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  } else if (!rows.isEmpty()) {
    cursor.setPosition(rows_after ? start_of(old.first) : end_of(old.first - 1));
    cursor.insertText(rows_after ? text + QLatin1Char('\n') : QLatin1Char('\n') + text, format);
  }
  result_rows_[region].count = static_cast<int>(rows.size());
  for (std::size_t r = region + 1; r < result_rows_.size(); ++r) result_rows_[r].first += added;
}

void MergeWindow::decorate_result_view(bool scroll) {
  std::vector<QColor> colours;
  std::vector<int> numbers;
  std::vector<std::pair<int, QString>> notes;
  int line_number = 0;
  for (std::size_t r = 0; r < plan().regions.size(); ++r) {
    const Region& region = plan().regions[r];
    QColor colour;
    if (region.kind == RegionKind::changed) {
      colour = clean_change_kept(r) ? kCleanChange : clean_change_rejected(r) ? QColor() : kSettled;
    } else if (region.kind == RegionKind::common && session_->region_edited(r)) {
      colour = kSettled;  // edited by hand
    }
    bool lines = true;
    if (region.kind == RegionKind::conflict) {
      const std::size_t c = conflict_of_region(r);
      lines = session_->resolution(c).kind != Resolution::Kind::unresolved;
      colour = conflict_colour(c);
      if (!lines) {
        notes.emplace_back(result_rows_[r].first, open_conflict_note(c));
      }
    }
    for (int i = 0; i < result_rows_[r].count; ++i) {
      colours.push_back(colour);
      numbers.push_back(lines ? ++line_number : 0);
    }
  }
  static_cast<DiffPane*>(result_view_)->set_numbers(std::move(numbers));
  static_cast<DiffPane*>(result_view_)->set_line_end_marks(std::move(notes));
  static_cast<DiffPane*>(result_view_)->set_row_backgrounds(std::move(colours));
  if (scroll && !no_conflicts()) {
    const Rows rows = result_rows_[session_->region_of_conflict(current_conflict())];
    sync_->put_cursor(result_view_, rows.first);
    sync_->place_mapped(top_for_rows(result_view_, rows.first, std::max(1, rows.count)));
  }
}

QString MergeWindow::open_conflict_note(std::size_t c) const {
  const std::size_t chosen = blocks_chosen(c);
  if (chosen > 0) {
    return tr("conflict %1: %2 of %3 blocks chosen").arg(c + 1).arg(chosen).arg(block_count(c));
  }
  if (showing_suggestion(c)) {
    return tr("conflict %1 not settled, showing %2 (%3 accepts, %4 next)")
        .arg(c + 1)
        .arg(q(session_->suggestion_picks().label(c)))
        .arg(keys::accept_suggestion().toString(QKeySequence::NativeText))
        .arg(keys::next_suggestion().toString(QKeySequence::NativeText));
  }
  return tr("conflict %1 not settled: take a side or type here").arg(c + 1);
}

void MergeWindow::update_overview() {
  std::vector<OverviewStrip::Mark> marks;
  std::vector<OverviewStrip::Mark> clean;
  for (std::size_t r = 0; r < plan().regions.size(); ++r) {
    const Rows rows = pane_rows_[r];
    if (plan().regions[r].kind == RegionKind::changed) {
      clean.push_back({rows.first, rows.first + rows.count, QColor(90, 180, 90)});
    } else if (plan().regions[r].kind == RegionKind::conflict) {
      // Stronger tones of the panes' colours: the strip is narrow.
      QColor colour;
      switch (session_->resolution(conflict_of_region(r)).kind) {
        case Resolution::Kind::unresolved:
          colour = QColor(220, 60, 60);
          break;
        case Resolution::Kind::automatic:
          colour = QColor(150, 90, 205);
          break;
        default:
          colour = QColor(80, 110, 215);
      }
      marks.push_back({rows.first, rows.first + std::max(1, rows.count), colour});
    }
  }
  overview_->set(pane_rows_.empty() ? 1 : pane_rows_.back().first + pane_rows_.back().count,
                 panes_.front()->fontMetrics().lineSpacing(), std::move(marks), std::move(clean));
  overview_->set_current(static_cast<int>(current_conflict()));
}

void MergeWindow::update_views(bool scroll_panes, bool scroll_result) {
  moving_ = true;
  // A suggestion that gave way to typing comes back once the user has gone
  // on to another conflict without typing anything there.
  const std::size_t typed_over = session_->restore_typed_over();
  if (typed_over != MergeSession::kNone) replace_result_rows(typed_over);
  colour_panes();
  update_overview();
  decorate_result_view(scroll_result);
  const std::size_t open = unresolved_count();
  if (no_conflicts()) {
    status_->setText(tr("No conflicts: every change merges cleanly"));
    automatic_note_->setVisible(false);
  } else {
    status_->setText(tr("Conflict %1 of %2, %3 unresolved, %4 settled automatically")
                         .arg(current_conflict() + 1)
                         .arg(session_->conflict_count())
                         .arg(open)
                         .arg(session_->automatic_count()));
    const bool automatic = settled_automatically(current_conflict());
    automatic_note_->setVisible(automatic);
    if (automatic) automatic_note_->setText(automatic_note(current_conflict()));
  }
  save_unfinished_button_->setVisible(open > 0);
  update_actions();
  if (scroll_panes && !no_conflicts()) {
    const Rows rows = pane_rows_[session_->region_of_conflict(current_conflict())];
    for (QPlainTextEdit* pane : panes_) sync_->put_cursor(pane, rows.first);
    sync_->place_aligned(top_for_rows(panes_.front(), rows.first, rows.count));
    sync_->set_left(static_cast<DiffPane*>(panes_.front())->left_to_show(change_x()));
    placed_left_ = panes_.front()->horizontalScrollBar()->value();
  }
  moving_ = false;
}

void MergeWindow::edit_clean_change(std::size_t region, bool move_result_cursor) {
  // The editor takes the clean change's lines as the result has them now.
  clean_at_ = region;
  editing_clean_ = true;
  const std::optional<std::vector<Line>> lines = session_->region_lines(region);
  updating_ = true;
  editor_->setEnabled(true);
  editor_->setPlainText(lines ? shown(*lines) : QString());
  updating_ = false;
  set_prompt(editor_, tr("This clean change has no lines now. Accept it to restore it."));
  // Numbered as the result's gutter numbers it: an unsettled conflict's
  // row above is no line.
  int line = 1;
  for (std::size_t r = 0; r < region; ++r) {
    const bool open =
        plan().regions[r].kind == RegionKind::conflict &&
        session_->resolution(conflict_of_region(r)).kind == Resolution::Kind::unresolved;
    if (!open) line += result_rows_[r].count;
  }
  editor_label_->setText(tr("Clean change at line %1 of the result (edit by hand)").arg(line));
  update_actions();
  // Every view's cursor stands on the change, so that a later click on the
  // conflict that was current still moves a cursor and gives it the editor.
  const bool was_moving = moving_;
  moving_ = true;
  for (QPlainTextEdit* pane : panes_) sync_->put_cursor(pane, pane_rows_[region].first);
  if (move_result_cursor) sync_->put_cursor(result_view_, result_rows_[region].first);
  moving_ = was_moving;
}

void MergeWindow::refresh(bool scroll_panes, bool scroll_result) {
  editing_clean_ = false;
  refill_editor();
  update_views(scroll_panes, scroll_result);
}

void MergeWindow::refill_editor() {
  std::optional<std::vector<Line>> lines;
  if (editing_clean_ && clean_at_ < plan().regions.size()) {
    lines = session_->region_lines(clean_at_);
  } else if (!no_conflicts()) {
    lines = session_->region_lines(session_->region_of_conflict(current_conflict()));
    update_placeholder();
    editor_label_->setText(
        session_->suggestion_picks().settled_by_suggestion(current_conflict(),
                                                           session_->resolution(current_conflict()))
            ? tr("Result of conflict %1, settled with %2 (edit by hand)")
                  .arg(current_conflict() + 1)
                  .arg(q(session_->suggestion_picks().label(current_conflict())))
            : tr("Result of conflict %1 (edit by hand)").arg(current_conflict() + 1));
  } else {
    return;
  }
  const QString text = lines ? shown(*lines) : QString();
  if (typed_text(editor_) == text) return;
  updating_ = true;
  editor_->setPlainText(text);
  updating_ = false;
}

void MergeWindow::go_to_conflict(std::size_t index) {
  if (!session_->set_current(index)) return;
  refresh(true, true);
}

void MergeWindow::step_back_or_forth(bool back) {
  // The session shows the step's regions again through regions_changed.
  const std::size_t region = back ? session_->undo() : session_->redo();
  if (region == MergeSession::kNone) return;
  // What the step changed (its first region) comes into view; a conflict
  // is the current one now.
  if (session_->is_conflict(region)) {
    refresh(true, true);
  } else if (session_->is_clean_change(region)) {
    refresh(false, false);
    edit_clean_change(region);
    show_region(region);
  } else {
    update_views(false, false);
    show_region(region);
  }
}

void MergeWindow::show_region(std::size_t region) {
  // The panes and the merged result both, each with the region in its middle.
  const Rows rows = pane_rows_[region];
  sync_->place_aligned(top_for_rows(panes_.front(), rows.first, rows.count));
  const Rows result = result_rows_[region];
  sync_->place_mapped(top_for_rows(result_view_, result.first, std::max(1, result.count)));
}

void MergeWindow::toggle_clean_change() {
  if (clean_at_ >= plan().regions.size()) return;
  // As merged: rejected; rejected or edited: back to the lines as merged.
  static_cast<void>(done(session_->toggle_clean_change(clean_at_)));
  update_views(false, false);
  edit_clean_change(clean_at_);
}

void MergeWindow::regions_changed(const std::vector<std::size_t>& regions) {
  moving_ = true;
  for (std::size_t region : regions) replace_result_rows(region);
  moving_ = false;
}

void MergeWindow::history_changed() {
  show_message(QString());
  update_actions();
}

void MergeWindow::undo() { step_back_or_forth(true); }

void MergeWindow::redo() { step_back_or_forth(false); }

bool MergeWindow::go_to_unresolved(bool forward) {
  const std::size_t c = session_->next_unresolved(forward);
  if (c == MergeSession::kNone) return false;
  go_to_conflict(c);
  return true;
}

void MergeWindow::take_remaining(std::size_t side) {
  if (side >= job_.docs.size()) return;
  if (done(session_->take_remaining(side))) refresh(false, false);
}

void MergeWindow::show_message(const QString& text) {
  message_text_ = text;
  message_->setToolTip(text);
  fit_message();
}

void MergeWindow::fit_message() {
  message_->setText(
      message_->fontMetrics().elidedText(message_text_, Qt::ElideMiddle, message_->width()));
}

bool MergeWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == message_) {
    if (event->type() == QEvent::Resize) fit_message();
    return false;
  }
  // Tab types a tab in the text views; Ctrl+Tab and Ctrl+Shift+Tab leave
  // them for the next and previous control, so that no key is trapped there.
  if ((watched == editor_ || watched == result_view_) &&
      (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && (key->modifiers() & Qt::ControlModifier)) {
      event->accept();
      if (event->type() == QEvent::KeyPress) {
        const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
        focusNextPrevChild(!back);
      }
      return true;
    }
  }
  // An edit on a suggestion's rows (or joining them to a neighbour) types
  // into an empty row instead, so that the suggestion is never kept unasked.
  if (watched == result_view_ && event->type() == QEvent::KeyPress && !result_view_->isReadOnly()) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool plain =
        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const bool printable = plain && !key->text().isEmpty() && key->text().front().isPrint();
    const bool back =
        key->key() == Qt::Key_Backspace || key->matches(QKeySequence::DeleteStartOfWord);
    const bool forth = key->key() == Qt::Key_Delete || key->matches(QKeySequence::DeleteEndOfWord);
    const bool breaks = plain && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                                  key->key() == Qt::Key_Tab);
    if (printable || back || forth || breaks || key->matches(QKeySequence::Paste) ||
        key->matches(QKeySequence::Cut)) {
      const QTextCursor cursor = result_view_->textCursor();
      const QTextDocument* doc = result_view_->document();
      int first = doc->findBlock(cursor.selectionStart()).blockNumber();
      int last = doc->findBlock(cursor.selectionEnd()).blockNumber();
      if (!cursor.hasSelection() && back && cursor.atBlockStart()) first = std::max(0, first - 1);
      if (!cursor.hasSelection() && forth && cursor.atBlockEnd()) ++last;
      clear_suggestions_for_edit(first, last);
    }
  }
  // The text views would take Ctrl+Z themselves (the editor's own history
  // is off): the window's history answers it instead.
  if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool is_undo = key->matches(QKeySequence::Undo);
    const bool is_redo = key->matches(QKeySequence::Redo) ||
                         key->keyCombination() == QKeyCombination(Qt::CTRL | Qt::Key_Y) ||
                         key->keyCombination() == QKeyCombination(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    if (is_undo || is_redo) {
      event->accept();
      if (event->type() == QEvent::KeyPress) is_undo ? undo() : redo();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MergeWindow::take(std::size_t side) {
  if (no_conflicts() || side >= job_.docs.size()) return;
  if (done(session_->take(side))) refresh(true, true);
}

void MergeWindow::take_all() {
  if (no_conflicts()) return;
  if (done(session_->take_all())) refresh(true, true);
}

void MergeWindow::unresolve() {
  if (no_conflicts()) return;
  if (done(session_->unresolve())) refresh(true, true);
}

std::vector<Line> MergeWindow::lines_from_editor(const QString& text) const {
  return lines_from_editor(
      text, editing_clean_ ? clean_at_ : session_->region_of_conflict(current_conflict()));
}

std::vector<Line> MergeWindow::lines_from_editor(const QString& text,
                                                 std::size_t region_index) const {
  // The editor shows a region's lines joined by line feeds, so every row it
  // shows is a line, a last empty row included; no text is no lines.
  return session_->lines_from_rows(
      typed_rows(text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'))), region_index);
}

std::vector<std::string> MergeWindow::typed_rows(const QStringList& rows) const {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(rows.size()));
  for (const QString& row : rows) out.push_back(typed_line(row, returns_inside_lines_));
  return out;
}

bool MergeWindow::done(const support::Status& status) {
  if (status.ok()) return true;
  // The window offers only what the session can do: a refusal here is a
  // limit of the merge, told to the user.
  if (status.code() == E2BIG) {
    show_message(
        tr("This conflict has too many blocks to take one by one: take a side or edit it."));
  }
  return false;
}

void MergeWindow::edit_result(const QString& text) {
  if (editing_clean_) {
    static_cast<void>(done(session_->edit_region(clean_at_, lines_from_editor(text))));
    update_views(false, false);
    return;
  }
  if (no_conflicts()) return;
  static_cast<void>(done(session_->edit_current(lines_from_editor(text))));
  if (typed_text(editor_) != text) {
    updating_ = true;
    editor_->setPlainText(text);
    updating_ = false;
  }
  update_placeholder();
  // Typing keeps the views where the user has them.
  update_views(false, false);
}

void MergeWindow::update_placeholder() {
  // Shown only while the editor is empty: an unsettled conflict, or one
  // settled with no lines at all (everything typed was deleted).
  const bool open = session_->resolution(current_conflict()).kind == Resolution::Kind::unresolved;
  set_prompt(editor_,
             open && showing_suggestion(current_conflict())
                 ? tr("Conflict %1 is not settled; the result shows %2 (%3 accepts it). "
                      "Take a side above, or type its result here.")
                       .arg(current_conflict() + 1)
                       .arg(q(session_->suggestion_picks().label(current_conflict())))
                       .arg(keys::accept_suggestion().toString(QKeySequence::NativeText))
             : open ? tr("Conflict %1 is not settled. Take a side above, or type its result here.")
                          .arg(current_conflict() + 1)
                    : tr("Conflict %1 is settled with no lines. Unresolve it to choose again.")
                          .arg(current_conflict() + 1));
}

QString MergeWindow::result_note(int row) const {
  for (const auto& [at, note] : static_cast<const DiffPane*>(result_view_)->line_end_marks()) {
    if (at == row) return note;
  }
  return QString();
}

QString MergeWindow::side_name(std::size_t side) const {
  return plan().has_base && side == 0 ? tr("the base")
                                      : file_part(job_.request.display_names[side]);
}

QString MergeWindow::result_text() const {
  const std::optional<std::vector<Line>> lines = session_->merged();
  return lines ? q(join_lines(*lines)) : QString();
}

bool MergeWindow::has_unsaved_choices() const { return session_->has_unsaved_choices(); }

bool MergeWindow::save() {
  const std::optional<std::vector<Line>> lines = session_->merged();
  if (!lines) {
    // Shows one (the current conflict when it is one), so that Save leads
    // to what is left.
    const std::size_t open = unresolved_count();
    if (session_->resolution(current_conflict()).kind != Resolution::Kind::unresolved)
      go_to_unresolved(true);
    show_message(tr("Settle every conflict before saving: %1 unresolved, one is shown "
                    "(Ctrl+F8 for the next).")
                     .arg(open));
    return false;
  }
  std::string error;
  if (!write_result(job_.request.out_path, *lines, &error)) {
    // Shown in the window rather than in a dialog: the window stays usable
    // and nothing waits on a modal box.
    show_message(tr("Not saved: %1").arg(q(error)));
    return false;
  }
  saved_ = true;
  saved_unfinished_ = false;
  session_->mark_saved();
  show_message(conversion_.empty()
                   ? tr("Saved to %1.").arg(q(job_.request.out_path))
                   : tr("Saved to %1; %2.").arg(q(job_.request.out_path), q(conversion_)));
  return true;
}

bool MergeWindow::save_unfinished() {
  if (unresolved_count() == 0) return save();
  std::size_t open = 0;
  const std::vector<Line> lines = session_->merged_with_markers(job_.request.display_names, &open);
  std::string error;
  if (!write_result(job_.request.out_path, lines, &error)) {
    show_message(tr("Not saved: %1").arg(q(error)));
    return false;
  }
  // The output is not a finished merge: closing answers 0, so that the
  // caller does not take it for one.
  saved_ = false;
  saved_unfinished_ = true;
  session_->mark_saved();
  const QString out = q(job_.request.out_path);
  show_message(open == 1 ? tr("Saved to %1 with 1 conflict between conflict markers; the merge is "
                              "not finished.")
                               .arg(out)
                         : tr("Saved to %1 with %2 conflicts between conflict markers; the merge "
                              "is not finished.")
                               .arg(out)
                               .arg(open));
  return true;
}

bool MergeWindow::close_without_asking() {
  ask_on_close_ = false;
  return close();
}

// Asks whether to save choices that closing would lose; false to stay open.
bool MergeWindow::ask_before_closing() {
  QMessageBox box(this);
  box.setObjectName(QStringLiteral("unsaved_merge_question"));
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(tr("Unsaved merge"));
  const std::size_t open = unresolved_count();
  if (open == 0) {
    box.setText(tr("The merged result has not been saved."));
    box.setInformativeText(tr("Save it to %1 before closing?").arg(q(job_.request.out_path)));
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Save);
  } else {
    box.setText(tr("%1 of %2 conflicts are settled, but the result has not been saved.")
                    .arg(session_->conflict_count() - open)
                    .arg(session_->conflict_count()));
    box.setInformativeText(
        tr("Save it to %1 with the open conflicts (%2) between conflict markers "
           "(<<<<<<< ... >>>>>>>), to finish later? The merge then does not count as "
           "finished. Discard leaves the output as it is.")
            .arg(q(job_.request.out_path))
            .arg(open));
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.button(QMessageBox::Save)->setText(tr("Save with markers"));
    box.setDefaultButton(QMessageBox::Save);
  }
  switch (box.exec()) {
    case QMessageBox::Save:
      return open == 0 ? save() : save_unfinished();
    case QMessageBox::Discard:
      return true;
    default:
      return false;
  }
}

void MergeWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Place the first conflict again now that the views have their size, so
  // that it opens with context above it.
  // The sideways position worked out at the views' first, smaller size is
  // dropped: kept, it would stay wherever it still shows the change.
  if (!shown_) {
    sync_->set_left(0);
    update_views(true, true);
  }
  shown_ = true;
}

void MergeWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A position worked out for another width (before the window manager
  // gave the window its size, say) is worked out again from the left edge,
  // unless the user has scrolled sideways since.
  if (no_conflicts() || panes_.front()->horizontalScrollBar()->value() != placed_left_) return;
  sync_->set_left(0);
  sync_->set_left(static_cast<DiffPane*>(panes_.front())->left_to_show(change_x()));
  placed_left_ = panes_.front()->horizontalScrollBar()->value();
}

void MergeWindow::keyPressEvent(QKeyEvent* event) {
  // Enter where no control takes it (the panes, the buttons) is the
  // default button's: Save and close.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    commands_.save_and_close->trigger();  // nothing while conflicts are open
    return;
  }
  QWidget::keyPressEvent(event);
}

namespace {

// The encodings saving offers beside the output's own.
struct SavedEncoding {
  const char* label;
  Encoding encoding;
  bool bom;
};
constexpr SavedEncoding kSavedEncodings[] = {
    {"UTF-8", Encoding::utf8, false},
    {"UTF-8 with BOM", Encoding::utf8, true},
    {"Latin-1", Encoding::latin1, false},
    {"UTF-16 LE with BOM", Encoding::utf16le, true},
    {"UTF-16 BE with BOM", Encoding::utf16be, true},
    {"UTF-32 LE with BOM", Encoding::utf32le, true},
    {"UTF-32 BE with BOM", Encoding::utf32be, true},
};

// A box as narrow as a few characters, its list as wide as its entries:
// the options beside it keep the window within a small screen.
void make_narrow(QComboBox* box, int characters) {
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box->setMinimumContentsLength(characters);
}

}  // namespace

QHBoxLayout* MergeWindow::make_save_options() {
  auto* line = new QHBoxLayout();
  // What saving writes: the output's own encoding and the lines' own line
  // ends unless chosen otherwise here, for this merge.
  encoding_box_ = new QComboBox(this);
  encoding_box_->setObjectName(QStringLiteral("saved_encoding"));
  QString own = QString::fromLatin1(encoding_name(stored_.encoding));
  if (stored_.bom) own += QStringLiteral(" ") + tr("with BOM");
  encoding_box_->addItem(tr("%1 (the output's)").arg(own));
  for (const SavedEncoding& choice : kSavedEncodings) {
    encoding_box_->addItem(QString::fromLatin1(choice.label));
  }
  encoding_box_->setToolTip(tr("The encoding Save, Save with markers and Save as write"));
  make_narrow(encoding_box_, 10);
  saved_line_ends_box_ = new QComboBox(this);
  saved_line_ends_box_->setObjectName(QStringLiteral("saved_line_ends"));
  saved_line_ends_box_->addItems(
      {tr("Line ends as merged"), tr("LF line ends"), tr("CRLF line ends"), tr("CR line ends")});
  saved_line_ends_box_->setToolTip(
      tr("The line ends saving gives every line that has one (as merged: each line its own)"));
  make_narrow(saved_line_ends_box_, 8);
  line->addWidget(command_button(commands_.save_as, this));
  line->addWidget(encoding_box_);
  line->addWidget(saved_line_ends_box_);
  line->addStretch();
  return line;
}

TextDocument MergeWindow::saved_document(std::vector<Line> lines) const {
  const auto ends = static_cast<SavedLineEnds>(std::max(0, saved_line_ends_box_->currentIndex()));
  TextDocument doc = stored_;
  doc.lines = with_line_ends(std::move(lines), ends);
  const int chosen = encoding_box_->currentIndex() - 1;
  if (chosen >= 0 && chosen < static_cast<int>(std::size(kSavedEncodings))) {
    doc.encoding = kSavedEncodings[chosen].encoding;
    doc.bom = kSavedEncodings[chosen].bom;
  }
  return doc;
}

bool MergeWindow::write_result(const std::string& path, std::vector<Line> lines,
                               std::string* error) const {
  const support::Result<std::string> encoded = encode_text(saved_document(std::move(lines)));
  if (!encoded) {
    *error = "cannot encode the result: " + encoded.status().text();
    return false;
  }
  const support::Status saved = real_files().replace_whole(path, encoded.value(), kStalledWriteMs);
  if (!saved) *error = saved.text();
  return saved.ok();
}

void MergeWindow::save_as() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Save a copy of the merged result"),
                                                    q(job_.request.out_path));
  if (!path.isEmpty()) save_copy_to(path);
}

bool MergeWindow::save_copy_to(const QString& path) {
  // The output itself chosen: that is a save, which the merge answers for.
  if (QFileInfo(path).absoluteFilePath() == QFileInfo(q(job_.request.out_path)).absoluteFilePath())
    return unresolved_count() == 0 ? save() : save_unfinished();
  std::size_t open = 0;
  const std::optional<std::vector<Line>> lines = session_->merged();
  std::string error;
  if (!write_result(
          path.toStdString(),
          lines ? *lines : session_->merged_with_markers(job_.request.display_names, &open),
          &error)) {
    show_message(tr("Not saved: %1").arg(q(error)));
    return false;
  }
  const QString out = q(job_.request.out_path);
  show_message(open == 0 ? tr("Saved a copy to %1; the output %2 is not written.").arg(path, out)
                         : tr("Saved a copy to %1 with %2 conflict(s) between conflict markers; "
                              "the output %3 is not written.")
                               .arg(path)
                               .arg(open)
                               .arg(out));
  return true;
}

void MergeWindow::take_all_other_first() {
  if (no_conflicts()) return;
  if (done(session_->take_all(true))) refresh(true, true);
}

void MergeWindow::take_lines() {
  if (no_conflicts()) return;
  const auto pane = std::find(panes_.begin(), panes_.end(), last_view_);
  const std::size_t c = current_conflict();
  const std::size_t region = session_->region_of_conflict(c);
  const Rows rows = pane_rows_[region];
  bool taken = false;
  if (pane != panes_.end()) {
    const auto side = static_cast<std::size_t>(pane - panes_.begin());
    const QTextCursor cursor = last_view_->textCursor();
    const QTextDocument* doc = last_view_->document();
    int top = doc->findBlock(cursor.selectionStart()).blockNumber();
    int bottom = doc->findBlock(cursor.selectionEnd()).blockNumber();
    // A selection that ends at the start of a row leaves that row out.
    if (bottom > top && doc->findBlock(cursor.selectionEnd()).position() == cursor.selectionEnd())
      --bottom;
    top = std::max(top, rows.first) - rows.first;
    bottom = std::min(bottom, rows.first + rows.count - 1) - rows.first;
    const auto lines = static_cast<int>(plan().regions[region].sides[side].size());
    bottom = std::min(bottom, lines - 1);
    if (top <= bottom) {
      const auto first = static_cast<std::size_t>(top);
      const auto count = static_cast<std::size_t>(bottom - top + 1);
      // Every one picked already: they are left out again.
      const std::vector<int> picked = session_->picked_lines(c, side);
      bool all = !picked.empty();
      for (std::size_t i = first; all && i < first + count; ++i) all = picked[i] == 1;
      taken = done(session_->pick_lines(side, first, count, !all));
    }
  }
  if (!taken) {
    show_message(tr("Select lines of conflict %1 in a pane to take them.").arg(c + 1));
    return;
  }
  refresh(false, true);
}

void MergeWindow::closeEvent(QCloseEvent* event) {
  if (ask_on_close_ && isVisible() && has_unsaved_choices() && !ask_before_closing()) {
    event->ignore();
    return;
  }
  answer_.give(boolean_reply(saved_));
  event->accept();
}

}  // namespace marlow
