#include "tools/make_rig/rig_arguments.h"
#include "tools/make_rig/rig_writer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <iostream>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const RigArguments arguments = parse_rig_arguments(application.arguments().mid(1));
    if (arguments.help) {
        std::cout << rig_usage();
        return 0;
    }
    if (!arguments.error.empty()) {
        std::cerr << "make_rig: " << arguments.error << '\n' << rig_usage();
        return 2;
    }

    QElapsedTimer timer;
    timer.start();
    const RigWriteResult result = write_rig(arguments.options, arguments.folder, std::cout);
    if (!result.ok()) {
        std::cerr << "make_rig: " << result.error << std::endl;
        return 1;
    }
    const RigOptions& options = arguments.options;
    std::cout << "rig of " << options.cameras << " cameras at " << options.width << "x"
              << options.height << " written in " << timer.elapsed() / 1000.0 << " s" << std::endl;
    return 0;
}
