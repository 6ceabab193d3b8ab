// "Take me to pricing", "go to the downloads page": one place named in the
// user's words, which is either a part of this page (a heading) or another
// page (a link). The words say which when they can ("section", "page");
// otherwise the page decides by what it has.

#include "actions/action_engine.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

using Kind = ActionResult::Kind;

enum class Leaning { none, here, away };

// Drops the trailing word that says which kind of place is meant.
Leaning leaning(std::string& place) {
  static const std::pair<std::string_view, Leaning> kWords[] = {
      {" section", Leaning::here}, {" part", Leaning::here},    {" heading", Leaning::here},
      {" chapter", Leaning::here}, {" area", Leaning::here},    {" page", Leaning::away},
      {" link", Leaning::away},    {" website", Leaning::away}, {" site", Leaning::away}};
  const std::string lowered = unicode::lower(place);
  for (const auto& [word, lean] : kWords) {
    if (lowered.size() > word.size() && lowered.ends_with(word)) {
      place.resize(place.size() - word.size());
      return lean;
    }
  }
  return Leaning::none;
}

}  // namespace

Outcome ActionEngine::goTo(const std::string& placeWords, std::shared_ptr<const PageSnapshot> snap,
                           Trail dbg) {
  std::string place = placeWords;
  const Leaning lean = leaning(place);

  double heading = 0;
  for (const PageLine& line : snap->lines) {
    if (line.kind != PageLine::Kind::heading) continue;
    heading = std::max(heading, ElementMatcher::score(std::string_view(line.text), place));
  }
  const TargetSpec linkSpec{place, std::nullopt, RoleHint::link, std::nullopt};
  const std::vector<Match> links =
      ElementMatcher::matches(linkSpec, snap->elements, MatchPurpose::link).matches;
  const double link = links.empty() ? 0 : links.front().score;
  dbg.push_back("Place “" + place + "”: heading " + std::to_string(static_cast<int>(heading)) +
                ", link " + std::to_string(static_cast<int>(link)));

  // A heading that names the place is where "jump to" lands; a link is
  // followed when the words ask for a page, or the page has no such part.
  bool here = false;
  if (lean == Leaning::here) {
    here = heading >= 30 || link < 45;
  } else if (lean == Leaning::away) {
    here = link < 45 && heading >= 30;
  } else {
    here = heading >= 60 || (heading >= 30 && heading + 10 >= link) || link < 45;
  }
  if (here) {
    if (heading < 30 && link < 45) {
      // No heading and no link: the section may still be named in its text.
      Outcome moved = scroll(ScrollSpec{ScrollSpec::Section{place}}, *snap, dbg);
      if (const auto* r = std::get_if<ActionResult>(&moved.value); r && r->kind == Kind::success)
        return moved;
      return Outcome{Display::result(Kind::failure,
                                     "Couldn't find “" + TextUtil::md(place) + "” on this page",
                                     dbg, "No heading or link here names it.")};
    }
    return scroll(ScrollSpec{ScrollSpec::Section{place}}, *snap, dbg);
  }
  return clickFlow(linkSpec, MatchPurpose::link, std::move(snap), dbg);
}

}  // namespace tovrin
