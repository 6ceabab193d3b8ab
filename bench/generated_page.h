#pragma once

// A generated page for benchmarks: sections of a heading, a paragraph with an
// inline link, a product card and a list, repeated until the page holds
// `target` elements, inside a Chrome window on the simulated desktop.

#include <nlohmann/json.hpp>
#include <string>

namespace tovrin::bench {

inline nlohmann::json generatedPage(int target) {
  using Json = nlohmann::json;
  Json children = Json::array();
  int count = 1;
  double y = 100;
  auto frame = [&y](double h) {
    Json f = {40, y, 1000, h};
    y += h + 4;
    return f;
  };
  for (int section = 0; count < target; ++section) {
    std::string n = std::to_string(section);
    Json heading = {
        {"role", "AXHeading"},
        {"title", "Section " + n},
        {"value", 2},
        {"frame", frame(30)},
        {"children",
         {{{"role", "AXStaticText"}, {"value", "Section " + n}, {"frame", frame(30)}}}}};
    Json paragraph = {
        {"role", "AXGroup"},
        {"frame", frame(60)},
        {"children",
         {{{"role", "AXStaticText"},
           {"value", "This is paragraph " + n + " of the generated page, with some words. "},
           {"frame", frame(20)}},
          {{"role", "AXLink"},
           {"title", "details " + n},
           {"url", "https://example.com/" + n},
           {"actions", {"AXPress"}},
           {"frame", frame(20)},
           {"children",
            {{{"role", "AXStaticText"}, {"value", "details " + n}, {"frame", frame(20)}}}}},
          {{"role", "AXStaticText"},
           {"value", " More text follows the link."},
           {"frame", frame(20)}}}}};
    Json card = {{"role", "AXGroup"},
                 {"frame", frame(120)},
                 {"children",
                  {{{"role", "AXImage"},
                    {"description", "Product photo " + n},
                    {"actions", {"AXPress"}},
                    {"frame", frame(80)}},
                   {{"role", "AXStaticText"}, {"value", "$" + n + ".99"}, {"frame", frame(20)}},
                   {{"role", "AXButton"},
                    {"title", "Add to cart"},
                    {"actions", {"AXPress", "AXShowMenu"}},
                    {"frame", frame(30)}}}}};
    Json items = Json::array();
    for (int i = 0; i < 3; ++i) {
      items.push_back({{"role", "AXListItem"},
                       {"frame", frame(20)},
                       {"children",
                        {{{"role", "AXStaticText"},
                          {"value", "Item " + std::to_string(i) + " of list " + n},
                          {"frame", frame(20)}}}}});
    }
    Json list = {{"role", "AXList"}, {"frame", frame(60)}, {"children", items}};
    children.push_back(heading);
    children.push_back(paragraph);
    children.push_back(card);
    children.push_back(list);
    count += 2 + 6 + 4 + 7;
  }
  Json webArea = {{"role", "AXWebArea"},
                  {"title", "Generated"},
                  {"url", "https://example.com/"},
                  {"frame", {0, 88, 1440, 812}},
                  {"children", children}};
  Json window = {
      {"role", "AXWindow"},
      {"title", "Generated - Chrome"},
      {"frame", {0, 0, 1440, 900}},
      {"children",
       {{{"role", "AXToolbar"},
         {"children", {{{"role", "AXButton"}, {"title", "Back"}, {"actions", {"AXPress"}}}}}},
        webArea}}};
  return {{"apps",
           {{{"pid", 1},
             {"bundleID", "com.google.Chrome"},
             {"name", "Chrome"},
             {"frontmost", true},
             {"focusedWindow", 0},
             {"windows", {window}}}}}};
}

}  // namespace tovrin::bench
