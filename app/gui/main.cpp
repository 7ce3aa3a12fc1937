// The monitor program: the application object and its one window.
#include "varmio/Application.h"
#include "varmio/MainWindow.h"

int main(int argc, char* argv[])
{
    varmio::TApplication application(argc, argv);
    varmio::TForm1 form;
    form.show();
    return varmio::TApplication::exec();
}
