// The module body: the steps that build the namespace, in the order they run
// on import. Later steps capture what earlier steps bound, so the order is
// part of the behaviour.
#include "module/module.hpp"

#include "jsonobj/jsonobj.hpp"
#include "module/frame.hpp"
#include "module/startup.hpp"
#include "terminal/terminal.hpp"
#include "text/text.hpp"
#include "util/util.hpp"

namespace qel::module {

int run_module_body(PyObject* module) {
    const Globals g(module);
    using Step = int (*)(const Globals&);
    const Step steps[] = {
        frame::bind_version,                    //  1  qel_version
        frame::import_standard_modules,         //  2  socket, json, sys, os
        frame::import_helpers,                  //  3-5  ascii_uppercase, print_stack, rd
        frame::define_vanilla,                  //  6  vanilla.str, vanilla.json
        text::define_str,                       //  7  str
        terminal::define_terminal_listener,     //  8  terminal_listener, hooks sys.stdout
        text::define_string_namespace,          //  9  __string__: colours and renderers
        terminal::define_send_message,          // 10  qel_send_message
        terminal::define_colorful_ps,           // 11  colorful_ps
        frame::rewrite_file_path,               // 12-13  __file__ on Windows
        terminal::install_stderr_writer,        // 14  terminal_stderr, hooks sys.stderr
        terminal::keep_hooks_across_cells,      //     under IPython: the hooks outlive the cell
        startup::enable_console_colours,        // 15  windll and the console mode, on Windows
        terminal::color_prompts,                // 16  colorful_ps()
        jsonobj::define_json_type,              // 17  Json
        jsonobj::define_json_factory,           // 18  json, replaced by its instance
        startup::notice_and_version_check,      // 19  start-up notice and version check
        util::define_solution,                  // 20  Solution
        util::define_rdletters,                 // 21  rdletters
        util::define_multiple,                  // 21  multiple
    };
    for (Step step : steps) {
        if (step(g) < 0) return -1;
    }
    return 0;
}

}  // namespace qel::module
