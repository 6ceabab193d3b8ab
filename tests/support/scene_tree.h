#pragma once

// Element trees for tests, written as indented text that reads like the page:
//
//   AXWindow "Shop"
//     AXWebArea "Acme" frame=0,88,1440,812 url=https://shop.example.com/
//       AXButton "Sign in" actions=AXPress id=signin
//       AXStaticText value="Hello" hidden
//       ref=signin
//
// Two spaces per level. After the role comes an optional quoted title, then
// key=value pairs: value= (quoted text, a number or true/false), desc=, help=,
// placeholder=, subrole=, identifier=, url=, id=, frame=x,y,w,h (nan and inf
// allowed; \\n and \\t in quotes), actions=A,B, settable=A,B, press=CODE, vanish=N, stall=N, delay=SECONDS,
// readError=CODE, attr.AXName=JSON (single-quoted: attr.AXHelp={'error':-25212}); and the flags
// hidden, disabled, focused. A line "ref=ID" adds an existing element as one more child.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "platform/simulated_desktop.h"

namespace tovrin::testing {

// A shop window with a sign-in, a risky purchase and three identical
// buttons, the desktop application's tests' common page.
inline constexpr const char* kShopWindow = R"(
AXWindow "Shop" id=w
  AXWebArea "Acme Shop" frame=0,100,1000,800
    AXButton "Sign in" actions=AXPress frame=10,110,80,30
    AXButton "Buy now" actions=AXPress frame=100,110,80,30
    AXButton "Add to cart" actions=AXPress frame=10,200,80,30 id=add1
    AXButton "Add to cart" actions=AXPress frame=10,300,80,30 id=add2
    AXButton "Add to cart" actions=AXPress frame=10,400,80,30 id=add3
    AXStaticText value="Acme Plus costs $5 per month."
)";

// The element JSON of a tree (its first line is the root).
nlohmann::json treeJson(std::string_view tree);

struct BrowserApp {
  int pid = 412;
  std::string bundleID = "com.google.Chrome";
  std::string name = "Google Chrome";
  bool frontmost = true;
};

// A desktop with one browser whose only window is `windowTree`.
std::shared_ptr<SimulatedDesktop> browserDesktop(std::string_view windowTree, BrowserApp app = {});

// A desktop from a whole scene; fails the test when it does not load.
std::shared_ptr<SimulatedDesktop> sceneDesktop(const nlohmann::json& scene);

// The path of a file in the source tree.
std::string sourcePath(const std::string& relative);

}  // namespace tovrin::testing
