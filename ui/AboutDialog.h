#pragma once

#include "Frontend.h"

namespace moravel {

// The About box: the icon, the version, who the program is for, and OK.
class AboutDialog {
public:
    explicit AboutDialog(Frontend& frontend) : m_frontend(frontend) {}
    void DoModal() { m_frontend.RunAboutDialog(res::AboutDialogTemplate()); }

private:
    Frontend& m_frontend;
};

}  // namespace moravel
