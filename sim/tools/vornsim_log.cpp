// vornsim-log: prints the mailbox exchanges recorded in a sim root, one
// readable line per message.
#include <CLI/CLI.hpp>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "root_layout.h"
#include "vornsim/mailbox_control.h"

int main(int argc, char** argv) {
    std::string root;
    CLI::App app{"Prints every mailbox exchange recorded in the sim ROOT, in order:\n"
                 "number, command, request fields, stray bytes and result.",
                 "vornsim-log"};
    app.add_option("root", root, "Sim root, as given to or kept by vornsim")->required();
    CLI11_PARSE(app, argc, argv);

    if (!std::filesystem::is_directory(vornsim::layout::control_dir(root))) {
        std::cerr << "vornsim-log: " << root << " is not a sim root\n";
        return 1;
    }
    try {
        std::cout << vornsim::describe_exchanges(vornsim::MailboxControl(root).exchanges());
    } catch (const std::exception& error) {
        std::cerr << "vornsim-log: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
