// serve: the browser editor over the catalogue.
#include <memory>

#include "Commands.h"
#include "Server.h"

namespace kivplc {

bool EditorInBuild() { return true; }

void RegisterServe(CLI::App& app, Context& ctx) {
  auto options = std::make_shared<web::ServeOptions>();
  auto* serve = app.add_subcommand("serve", "Edit the catalogue in a browser: serves the editor page and its API");
  serve
      ->add_option("--listen", options->listen,
                   "HOST:PORT to listen on; an address other than loopback "
                   "needs the access token printed at start")
      ->capture_default_str();
  serve
      ->add_option("--host", options->hosts,
                   "another name the page may be reached by (repeatable); besides "
                   "localhost, loopback literals and the --listen address")
      ->type_name("NAME");
  serve->add_flag("--read-only", options->readOnly, "refuse every change");
  serve->add_option("--token-file", options->tokenFile, "read the access token from this file")->type_name("PATH");
  serve->add_flag("--sign-in", options->signIn,
                  "each person signs in with their own account on the catalogue's server, whose roles decide "
                  "what they may do");
  auto minutes = std::make_shared<long>(8 * 60);
  serve->add_option("--session-minutes", *minutes, "how long a signed-in session lasts")
      ->check(CLI::Range(1L, 7L * 24 * 60))
      ->capture_default_str();
  serve->add_option("--tls-cert", options->tlsCertificate, "serve HTTPS with this certificate (chain), a PEM file")
      ->type_name("FILE");
  serve->add_option("--tls-key", options->tlsKey, "the private key of --tls-cert, an unencrypted PEM file")
      ->type_name("FILE");
  serve->add_flag("--insecure-http", options->insecureHttp,
                  "allow signing in over plain HTTP on an address other than loopback (the page warns)");
  serve->add_option("--as", options->person, "the person working on a file catalogue (default: the system user)")
      ->type_name("NAME");
  const char* const withTls =
      "kivplc -c postgresql://cad-server/plant serve --sign-in --listen 0.0.0.0:8443 "
      "--tls-cert editor.crt --tls-key editor.key";
  serve->footer(Examples({"kivplc -c plant.db serve", "kivplc -c plant.db serve --listen 0.0.0.0:8080 --read-only",
                          "kivplc -c plant.db serve --listen 0.0.0.0:8080 --host plc-db.example.lan",
                          "kivplc -c postgresql://cad-server/plant serve --sign-in", withTls}));
  serve->callback([&ctx, options, minutes] {
    // With --sign-in the people connect; the one who starts the server may have no account.
    if (!options->signIn) ctx.Open();  // refuses a missing catalogue as every command does
    options->cataloguePath = ctx.Named();
    options->sessionLifetime = std::chrono::minutes(*minutes);
    web::Serve(*options);
  });
}

}  // namespace kivplc
