#pragma once
// The pages the menu bar opens that are not part of the program yet (settings screen, region editor,
// camera positions, I/O names, help). Each page installs its functions when it lands; an empty
// function means the page is not there: never visible, and opening it does nothing. Install and call
// on the GUI thread only.

#include <functional>

struct MainPageHooks
{
    std::function<bool()> settingsVisible;      // DeVeWizard::paraWidget
    std::function<void()> showSettings;         // shows DeVeWizard::paraWidget
    std::function<void()> hideSettings;
    std::function<bool()> editorVisible;        // DeVeWizard::drawROIWidget
    std::function<void(bool)> openEditor;       // DrawROIWidget::openPage
    std::function<bool()> changeCameraVisible;  // DeVeWizard::changeCameraWidget
    std::function<bool()> ioNamesVisible;       // DeVeWizard::customIONameWidget
    std::function<void()> showHelp;             // shows DeVeWizard::helpWidget
};

// The one set of hooks of the process.
MainPageHooks &mainPageHooks();
