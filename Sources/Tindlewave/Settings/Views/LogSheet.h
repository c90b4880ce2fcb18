#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "Model/Result.h"
#include "Settings/Model/General/LogReader.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace tindlewave {

class Executor;
class WorkPool;

// The log sheet over the settings window: what this run logged, with Refresh, Copy All and Done.
// Reads run on the work pool; each read's outcome replaces the list when it succeeds and shows
// "Cannot read the log" over the earlier lines when it fails. A refresh does not cancel a read
// already running: the last to finish decides. The list follows its end when the count changes.
class LogSheet final : public QDialog {
  public:
    using Outcome = Result<std::vector<LogLine>, LogStoreError>;
    using Read = std::function<Outcome()>;

    LogSheet(Executor& main, WorkPool& pool, Read read, QWidget* parent = nullptr);

    // Starts one read (the sheet starts one when it opens).
    void load();

    const std::vector<LogLine>& lines() const { return lines_; }
    const std::optional<std::string>& problem() const { return problem_; }
    QPushButton* copyButton() const { return copy_; }
    QListWidget* list() const { return list_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void apply(Outcome outcome);
    void copyAll();
    void placeProblem();

    Executor& main_;
    WorkPool& pool_;
    Read read_;
    std::vector<LogLine> lines_;
    std::optional<std::string> problem_;
    QPushButton* copy_;
    QListWidget* list_;
    QWidget* problemView_;
    QLabel* problemText_;
    bool loadedOnce_ = false;
};

}  // namespace tindlewave
