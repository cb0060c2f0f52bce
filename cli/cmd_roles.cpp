// grant, revoke, grants: who may read and who may change a catalogue on a
// server.  (init sets the roles up; init --roles for an older catalogue.)
#include <iostream>
#include <memory>

#include "Commands.h"
#include "KivPmOleDbFiles.h"
#include "catalogue/Roles.h"

namespace kivplc {

void PrintCatalogueRoles(const CatalogueRoles& roles) {
  std::cout << "readers:     " << roles.readers << "\nmaintainers: " << roles.maintainers << '\n';
}

namespace {

// Roles live on a server; a build without the server's driver has none.
std::string Described(const char* what) {
  return std::string(what) + (kivoledb::HavePostgresDriver() ? "" : NotInThisBuild());
}

}  // namespace

void RegisterRoles(CLI::App& app, Context& ctx) {
  struct GrantOptions {
    std::string person, role;
  };
  auto g = std::make_shared<GrantOptions>();
  auto* grant =
      app.add_subcommand("grant", Described("Make a server account a reader or a maintainer of the catalogue"));
  grant->add_option("PERSON", g->person, "the person's server account (it must exist)")->required();
  grant->add_option("ROLE", g->role, "reader (reads everything) or maintainer (also changes it)")->required();
  grant->footer(Examples({"kivplc -c postgresql://admin@cad-server/plant grant anna maintainer",
                          "kivplc -c postgresql://admin@cad-server/plant grant ben reader"}));
  grant->callback([&ctx, g] {
    const CatalogueRole role = ParseRole(g->role);
    Grant(ctx.Named(), g->person, role);
    std::cout << g->person << " is a " << RoleName(role) << " of the catalogue\n";
  });

  auto person = std::make_shared<std::string>();
  auto* revoke = app.add_subcommand("revoke", Described("Take a person's role in the catalogue away"));
  revoke->add_option("PERSON", *person, "the person's server account")->required();
  revoke->footer(Examples({"kivplc -c postgresql://admin@cad-server/plant revoke ben"}));
  revoke->callback([&ctx, person] {
    Revoke(ctx.Named(), *person);
    std::cout << *person << " has no role in the catalogue any more\n";
  });

  auto* grants = app.add_subcommand("grants", Described("List the catalogue's readers and maintainers"));
  grants->footer(Examples({"kivplc -c postgresql://admin@cad-server/plant grants"}));
  grants->callback([&ctx] {
    CatalogueRoles roles;
    const auto list = Grants(ctx.Named(), roles);
    PrintCatalogueRoles(roles);
    for (const CatalogueGrant& member : list) std::cout << RoleName(member.role) << '\t' << member.person << '\n';
  });
}

}  // namespace kivplc
