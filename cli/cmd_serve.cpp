// serve: the browser editor over the catalogue.
#include <memory>

#include "Commands.h"
#include "Server.h"

namespace kivplc {

void RegisterServe(CLI::App& app, Context& ctx) {
  auto options = std::make_shared<web::ServeOptions>();
  auto* serve = app.add_subcommand("serve", "Edit the catalogue in a browser: serves the editor page and its API");
  serve->add_option("--listen", options->listen, "HOST:PORT to listen on; an address other than loopback "
                                                 "needs the access token printed at start")
      ->capture_default_str();
  serve->add_option("--host", options->hosts, "another name the page may be reached by (repeatable); besides "
                                             "localhost, loopback literals and the --listen address")
      ->type_name("NAME");
  serve->add_flag("--read-only", options->readOnly, "refuse every change");
  serve->add_option("--token-file", options->tokenFile, "read the access token from this file")->type_name("PATH");
  serve->footer(Examples({"kivplc -c plant.db serve", "kivplc -c plant.db serve --listen 0.0.0.0:8080 --read-only",
                          "kivplc -c plant.db serve --listen 0.0.0.0:8080 --host plc-db.example.lan"}));
  serve->callback([&ctx, options] {
    ctx.Open();  // refuses a missing catalogue as every command does
    options->cataloguePath = ctx.cataloguePath;
    web::Serve(*options);
  });
}

}  // namespace kivplc
