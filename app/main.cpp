#include "app/QuellmarkApp.h"

int main(int argc, char* argv[])
{
    QuellmarkApp app(argc, argv);
    app.newMainWindow();
    return app.exec();
}
