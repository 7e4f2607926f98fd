// Vantrel, the Qt client. Everything lives in vantrel_ui; see gui_app.h.
#include "client/ui/gui_app.h"

int main(int argc, char** argv) {
    return vantrel::ui::runGuiApp(argc, argv);
}
