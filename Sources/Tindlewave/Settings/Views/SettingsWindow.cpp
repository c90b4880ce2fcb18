#include "Settings/Views/SettingsWindow.h"

#include <QApplication>
#include <QVBoxLayout>

#include "Platform/Executor.h"
#include "Settings/Model/General/GeneralTexts.h"
#include "Settings/Model/General/LogReader.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/ButtonsTab.h"
#include "Settings/Views/DevicesTab.h"
#include "Settings/Views/HyperKeyTab.h"
#include "Settings/Views/LogSheet.h"
#include "Settings/Views/ScrollingTab.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/SettingsSnapshot.h"
#include "Settings/Views/SettingsTabs.h"

namespace tindlewave {

SettingsWindow::SettingsWindow(SettingsModel& model, Services services)
    : model_(model), services_(std::move(services)) {}

SettingsWindow::~SettingsWindow() = default;

SettingsTabs& SettingsWindow::tabs() {
    if (tabs_) return *tabs_;
    auto openConfig = [this] {
        if (services_.general.open) services_.general.open(model_.configURL());
    };
    GeneralActions general = services_.general;
    general.showLog = [this] { showLog(); };
    tabs_ = std::make_unique<SettingsTabs>(
        model_.tab(),
        // Kept by the window, which makes the other pages when they are first shown.
        [this, openConfig, general](SettingsTab tab, PageFit& fit) {
            auto* page = new SettingsPage(&fit, openConfig);
            pages_.push_back(page);
            if (tab == SettingsTab::general) page->keepRowsOwner(new GeneralTab(model_, general, *page));
            if (tab == SettingsTab::hyperKey) page->content()->addWidget(new HyperKeyTab(model_, *page));
            if (tab == SettingsTab::devices) page->content()->addWidget(new DevicesTab(model_, *page));
            if (tab == SettingsTab::scrolling) page->content()->addWidget(new ScrollingTab(model_, *page));
            if (tab == SettingsTab::buttons)
                page->keepRowsOwner(new ButtonsTab(model_, services_.main.clock(), *page));
            showWarnings(*page);  // a page made after the window shows what the others show
            return page;
        },
        &services_.defaults, nullptr, &services_.pool);
    tabs_->onSelected = [this](SettingsTab tab) { model_.setTab(tab); };
    tabs_->onClosed = [this] {
        model_.stopListening();
        if (services_.onClosed) services_.onClosed();
    };
    observation_ = model_.observe([this](SettingsField field) {
        if (field == SettingsField::snapshot || field == SettingsField::saveError) showWarnings();
    });
    showWarnings();
    return *tabs_;
}

void SettingsWindow::showWarnings() {
    for (auto* page : pages_) showWarnings(*page);
}

void SettingsWindow::showWarnings(SettingsPage& page) {
    std::optional<std::string> configError;
    if (const auto& snapshot = model_.snapshot(); snapshot && snapshot->error)
        configError = GeneralTexts::configErrorDetail(*snapshot);
    page.setWarnings(configError, model_.saveError());
}

void SettingsWindow::show() {
    model_.refreshLoginItem();
    SettingsTabs& window = tabs();
    window.present();
}

void SettingsWindow::snapshot(const std::string& folder, std::function<void()> done) {
    show();
    (new SettingsSnapshot(model_, tabs(), folder, std::move(done)))->start();
}

void SettingsWindow::showLog() {
    auto* sheet = new LogSheet(services_.main, services_.pool, [] { return LogReader::read(); }, &tabs());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

}  // namespace tindlewave
