# The editor page in Debian's headless Chromium, driven by playwright-core
# from npm: `npm ci` into the build folder, then a maintainer's session
# against `kivplc serve` on a fresh copy of the sample catalogue.
find_program(KIV_NPM npm)
find_program(KIV_NODE node)
find_program(KIV_CHROMIUM NAMES chromium chromium-browser)
if(TARGET kivplc AND EXISTS ${PROJECT_SOURCE_DIR}/web/CMakeLists.txt AND KIV_NPM AND KIV_NODE AND KIV_CHROMIUM)
  set(KIV_BROWSER_DIR ${PROJECT_BINARY_DIR}/browser-tests)
  add_test(NAME browser_npm_ci
    COMMAND sh -c "mkdir -p '${KIV_BROWSER_DIR}' && cp '${CMAKE_CURRENT_SOURCE_DIR}/browser/package.json' '${CMAKE_CURRENT_SOURCE_DIR}/browser/package-lock.json' '${KIV_BROWSER_DIR}/' && cd '${KIV_BROWSER_DIR}' && '${KIV_NPM}' ci --no-audit --no-fund --loglevel=error")
  set_tests_properties(browser_npm_ci PROPERTIES LABELS browser FIXTURES_SETUP browser_node_modules TIMEOUT 300
    ENVIRONMENT "PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1")
  add_test(NAME browser_session
    COMMAND ${KIV_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/browser/session.js $<TARGET_FILE:kivplc> ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(browser_session PROPERTIES LABELS browser FIXTURES_REQUIRED browser_node_modules TIMEOUT 180
    ENVIRONMENT "NODE_PATH=${KIV_BROWSER_DIR}/node_modules;KIV_CHROMIUM=${KIV_CHROMIUM}")
  add_test(NAME browser_grid
    COMMAND ${KIV_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/browser/grid.js $<TARGET_FILE:kivplc> ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(browser_grid PROPERTIES LABELS browser FIXTURES_REQUIRED browser_node_modules TIMEOUT 180
    ENVIRONMENT "NODE_PATH=${KIV_BROWSER_DIR}/node_modules;KIV_CHROMIUM=${KIV_CHROMIUM}")
  # Signing in as a maintainer and as a reader, on the test run's server.
  if(KIV_WITH_POSTGRESQL)
    add_test(NAME browser_sign_in
      COMMAND ${KIV_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/browser/signin.js $<TARGET_FILE:kivplc> ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    set_tests_properties(browser_sign_in PROPERTIES LABELS browser TIMEOUT 180
      FIXTURES_REQUIRED "browser_node_modules;pg_server"
      ENVIRONMENT "NODE_PATH=${KIV_BROWSER_DIR}/node_modules;KIV_CHROMIUM=${KIV_CHROMIUM}")
  endif()
elseif(TARGET kivplc AND EXISTS ${PROJECT_SOURCE_DIR}/web/CMakeLists.txt)
  # A missing tool must fail the run, not quietly leave the editor untested.
  add_test(NAME browser_session
    COMMAND sh -c "echo 'browser tests need node, npm and chromium (scripts/install-deps.sh installs them)' >&2; exit 1")
  set_tests_properties(browser_session PROPERTIES LABELS browser)
endif()
