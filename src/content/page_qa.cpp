#include "content/page_qa.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {
namespace PageQA {
namespace {

constexpr double kSynonymWeight = 0.45;
constexpr double kHeadingBonus = 1.5;
constexpr double kPhraseBonus = 1.6;
constexpr double kLineHeadingBoost = 1.3;
constexpr double kLengthNormaliser = 80;
constexpr double kLengthFactor = 0.12;
constexpr std::size_t kQuestionBudget = 4500;

std::string join(const std::vector<std::string>& words, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += separator;
    out += words[i];
  }
  return out;
}

std::string titleOf(const PageSnapshot& snap) {
  return snap.pageTitle.empty() ? snap.windowTitle : snap.pageTitle;
}

void sortByScore(std::vector<Ranked>& ranked) {
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const Ranked& a, const Ranked& b) { return a.score > b.score; });
}

// What a "what is X?" question asks to have defined, normalised; nothing
// for other questions.
std::optional<std::string> definitionSubject(std::string_view question) {
  std::string q = TextUtil::norm(question);
  static constexpr std::string_view kOpenings[] = {
      "what is ", "what are ",   "what s ",        "who is ",    "who are ", "what was ",
      "define ",  "meaning of ", "definition of ", "what does ", "what do ", "tell me what "};
  bool asked = false;
  for (std::string_view opening : kOpenings) {
    if (q.starts_with(opening)) {
      q.erase(0, opening.size());
      asked = true;
      break;
    }
  }
  if (!asked) return std::nullopt;
  for (std::string_view ending : {" mean", " do", " stand for", " is", " are"}) {
    if (q.size() > ending.size() && q.ends_with(ending)) q.resize(q.size() - ending.size());
  }
  for (std::string_view article : {"a ", "an ", "the "}) {
    if (q.starts_with(article)) q.erase(0, article.size());
  }
  if (q.empty()) return std::nullopt;
  return q;
}

// Whether a line that begins with the subject defines it: "X is …",
// "X: …", "X — …", or a signature "x.y(width)" whose entry follows.
bool definesSubject(const std::string& text, const std::string& subject) {
  const std::string folded = TextUtil::fold(text);
  std::size_t t = 0;
  for (std::size_t k = 0; k < subject.size(); ++k) {
    if (subject[k] == ' ') {
      while (t < folded.size() && !std::isalnum(static_cast<unsigned char>(folded[t])) &&
             static_cast<unsigned char>(folded[t]) < 0x80)
        ++t;
      continue;
    }
    if (t >= folded.size() || folded[t] != subject[k]) return false;
    ++t;
  }
  while (t < folded.size() && folded[t] == ' ')
    ++t;
  if (t >= folded.size()) return true;
  const std::string_view rest(folded.data() + t, folded.size() - t);
  if (rest.starts_with(":") || rest.starts_with("(") || rest.starts_with("—") ||
      rest.starts_with("- ") || rest.starts_with("="))
    return true;
  for (std::string_view verb : {"is ", "are ", "means ", "refers ", "was ", "were ", "stands "}) {
    if (rest.starts_with(verb)) return true;
  }
  return false;
}

}  // namespace

namespace {

// The ranking itself, over views so that callers need not copy page text.
std::vector<Ranked> rankViews(const std::vector<std::string_view>& texts,
                              const std::vector<std::string_view>* headings,
                              std::string_view query) {
  const std::vector<std::string> q = TextUtil::contentTokens(query);
  if (q.empty() || texts.empty()) return {};
  const double n = static_cast<double>(texts.size());

  // Terms in first-seen order, so that sums run in a fixed order.
  std::vector<std::pair<std::string, double>> weights;
  auto has = [&weights](const std::string& t) {
    return std::any_of(weights.begin(), weights.end(),
                       [&t](const auto& w) { return w.first == t; });
  };
  for (const std::string& t : q) {
    if (!has(t)) weights.emplace_back(t, 1.0);
  }
  for (const std::string& t : q) {
    for (const std::string& s : TextUtil::synonyms(t)) {
      if (!has(s)) weights.emplace_back(s, kSynonymWeight);
    }
  }

  // Only the weighted terms are counted: per text, one count per term.
  std::unordered_map<std::string_view, std::size_t> termIndex;
  for (std::size_t w = 0; w < weights.size(); ++w)
    termIndex.emplace(weights[w].first, w);
  std::vector<std::vector<int>> counts(texts.size(), std::vector<int>(weights.size(), 0));
  std::vector<std::vector<std::string>> tokenLists(texts.size());
  std::vector<double> df(weights.size(), 0);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    tokenLists[i] = TextUtil::tokens(texts[i]);
    for (const std::string& t : tokenLists[i]) {
      auto it = termIndex.find(t);
      if (it != termIndex.end()) ++counts[i][it->second];
    }
    for (std::size_t w = 0; w < weights.size(); ++w)
      df[w] += counts[i][w] > 0 ? 1 : 0;
  }
  const std::string phrase = join(q, " ");

  std::vector<Ranked> out;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    double s = 0;
    double covered = 0;
    for (std::size_t w = 0; w < weights.size(); ++w) {
      const int c = counts[i][w];
      if (c == 0) continue;
      s += weights[w].second * (std::log(static_cast<double>(c)) + 1) * std::log(n / df[w] + 1);
      if (weights[w].second == 1.0) covered += 1;
    }
    if (headings != nullptr && i < headings->size()) {
      std::vector<std::string> headingTokens = TextUtil::tokens((*headings)[i]);
      std::unordered_set<std::string> set(headingTokens.begin(), headingTokens.end());
      for (const auto& [term, weight] : weights) {
        if (set.contains(term)) s += kHeadingBonus * weight;
      }
    }
    if (s == 0) continue;
    s *= 0.5 + 0.5 * covered / static_cast<double>(q.size());
    if (q.size() > 1 && join(tokenLists[i], " ").find(phrase) != std::string::npos)
      s *= kPhraseBonus;
    const double length = static_cast<double>(unicode::length(texts[i]));
    s /= 1 + kLengthFactor * std::log(1 + length / kLengthNormaliser);
    out.push_back({i, s});
  }
  sortByScore(out);
  return out;
}

}  // namespace

std::vector<Ranked> rank(const std::vector<std::string>& texts,
                         const std::vector<std::string>* headings, std::string_view query) {
  std::vector<std::string_view> textViews(texts.begin(), texts.end());
  if (headings == nullptr) return rankViews(textViews, nullptr, query);
  std::vector<std::string_view> headingViews(headings->begin(), headings->end());
  return rankViews(textViews, &headingViews, query);
}

std::vector<Ranked> rankChunks(const PageSnapshot& snap, std::string_view query) {
  std::vector<std::string_view> texts;
  std::vector<std::string_view> headings;
  for (const PageChunk& c : snap.chunks) {
    texts.push_back(c.text);
    headings.push_back(c.heading);
  }
  std::vector<Ranked> ranked = rankViews(texts, &headings, query);
  // A menu bar repeats on every page and rarely holds an answer.
  for (Ranked& r : ranked)
    r.score *= 1 - 0.75 * snap.chunks[r.index].chrome;
  sortByScore(ranked);
  return ranked;
}

std::vector<Ranked> rankLines(const PageSnapshot& snap, std::string_view query) {
  std::vector<std::string_view> texts;
  for (const PageLine& line : snap.lines)
    texts.push_back(line.text);
  std::vector<Ranked> ranked = rankViews(texts, nullptr, query);
  for (Ranked& r : ranked) {
    if (snap.lines[r.index].kind == PageLine::Kind::heading) r.score *= kLineHeadingBoost;
  }
  sortByScore(ranked);
  return ranked;
}

std::vector<PageChunk> excerpts(const PageSnapshot& snap, std::string_view query,
                                std::size_t budget) {
  std::vector<std::size_t> order;
  for (const Ranked& r : rankChunks(snap, query))
    order.push_back(r.index);
  if (order.empty()) {
    for (std::size_t i = 0; i < snap.chunks.size(); ++i)
      order.push_back(i);
  }
  std::size_t used = 0;
  std::vector<std::size_t> picked;
  for (std::size_t index : order) {
    const std::size_t length = unicode::length(snap.chunks[index].text);
    if (used + length <= budget || picked.empty()) {
      picked.push_back(index);
      used += std::min(length, budget);
      if (used >= budget) break;
    }
  }
  std::sort(picked.begin(), picked.end());
  std::vector<PageChunk> out;
  for (std::size_t index : picked)
    out.push_back(snap.chunks[index]);
  return out;
}

std::string extractiveAnswer(const PageSnapshot& snap, std::string_view question) {
  const std::vector<std::string> content = TextUtil::contentTokens(question);
  if (content.empty()) {
    std::vector<std::string> parts;
    const std::string title = titleOf(snap);
    if (!title.empty()) parts.push_back("“" + title + "”");
    std::string text;
    for (const PageChunk& c : snap.chunks) {
      if (unicode::length(c.text) > 80) {
        text = c.text;
        break;
      }
    }
    if (text.empty() && !snap.chunks.empty()) text = snap.chunks.front().text;
    std::vector<std::string> sentences = TextUtil::sentences(text);
    if (sentences.size() > 3) sentences.resize(3);
    std::string opening = join(sentences, " ");
    if (!opening.empty()) parts.push_back(opening);
    if (parts.empty()) return "The page has no readable text.";
    return join(parts, "\n\n");
  }

  const std::vector<Ranked> ranked = rankChunks(snap, question);
  if (ranked.empty()) return "The page doesn't appear to mention that.";
  std::unordered_set<std::string> terms(content.begin(), content.end());
  for (const std::string& t : content) {
    for (const std::string& s : TextUtil::synonyms(t))
      terms.insert(s);
  }
  struct Candidate {
    std::size_t rank;
    std::size_t position;
    std::string sentence;
    double score;
  };
  std::vector<Candidate> candidates;
  for (std::size_t r = 0; r < std::min<std::size_t>(3, ranked.size()); ++r) {
    const std::vector<std::string> sentences =
        TextUtil::sentences(snap.chunks[ranked[r].index].text);
    for (std::size_t j = 0; j < sentences.size(); ++j) {
      std::vector<std::string> tokens = TextUtil::tokens(sentences[j]);
      std::unordered_set<std::string> distinct(tokens.begin(), tokens.end());
      std::size_t overlap = 0;
      for (const std::string& t : distinct)
        overlap += terms.contains(t) ? 1 : 0;
      if (overlap > 0)
        candidates.push_back(
            {r, j, sentences[j], static_cast<double>(overlap) + 0.05 * ranked[r].score});
    }
  }
  // "What is X?": the sentence that says what X is, wherever on the page,
  // above sentences that merely mention it; a line that is only the word
  // (a heading, a glossary term) is not an answer, what follows it is.
  if (const auto subject = definitionSubject(question)) {
    const std::size_t subjectLength = subject->size();
    for (Candidate& c : candidates) {
      const std::string n = TextUtil::norm(c.sentence);
      if (n.size() <= subjectLength + 3 && n.starts_with(*subject)) c.score = -1;
    }
    std::erase_if(candidates, [](const Candidate& c) { return c.score < 0; });
    const std::vector<PageLine> lines = PageReader::contextLines(snap.lines, snap.elements);
    std::size_t found = 0;
    for (std::size_t i = 0; i < lines.size() && found < 3; ++i) {
      if (lines[i].chrome) continue;
      const std::string n = TextUtil::norm(lines[i].text);
      if (!n.starts_with(*subject)) continue;
      if (n.size() > subjectLength && n[subjectLength] != ' ') continue;
      if (!definesSubject(lines[i].text, *subject)) continue;
      std::string sentence;
      // The term alone, a heading, or an entry's signature ("x.y(path)"):
      // what it is comes in the text after it.
      const bool sentenceLike = lines[i].text.ends_with(".") || lines[i].text.ends_with("!") ||
                                lines[i].text.ends_with("?");
      const bool bare = n.size() <= subjectLength + 3 || lines[i].kind == PageLine::Kind::heading ||
                        (!sentenceLike && unicode::length(lines[i].text) <= 80);
      if (!bare) {
        const std::vector<std::string> own = TextUtil::sentences(lines[i].text);
        if (!own.empty()) sentence = own.front();
      } else {
        // The term alone: its definition is the next line of text.
        for (std::size_t j = i + 1; j < lines.size() && j <= i + 3; ++j) {
          if (lines[j].kind != PageLine::Kind::text && lines[j].kind != PageLine::Kind::item)
            continue;
          const std::vector<std::string> next = TextUtil::sentences(lines[j].text);
          if (!next.empty()) sentence = lines[i].text + " — " + next.front();
          break;
        }
      }
      if (sentence.empty()) continue;
      ++found;
      candidates.push_back({0, i, sentence, 100.0 - static_cast<double>(found)});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    if (found > 0) {
      // The definitions first, then what else ranked best.
      if (candidates.size() > 4) candidates.resize(4);
      std::vector<std::string> out;
      std::unordered_set<std::string> said;
      for (const Candidate& c : candidates) {
        if (said.insert(c.sentence).second)
          out.push_back("• " + unicode::truncate(c.sentence, 320));
      }
      return join(out, "\n");
    }
  }
  if (candidates.empty()) return unicode::truncate(snap.chunks[ranked.front().index].text, 400);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  if (candidates.size() > 4) candidates.resize(4);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) {
                     return a.rank != b.rank ? a.rank < b.rank : a.position < b.position;
                   });
  std::vector<std::string> lines;
  for (const Candidate& c : candidates)
    lines.push_back("• " + unicode::truncate(c.sentence, 320));
  return join(lines, "\n");
}

std::string extractiveSummary(const PageSnapshot& snap) {
  std::vector<std::string> parts;
  const std::string title = titleOf(snap);
  if (!title.empty()) parts.push_back("**" + title + "**");
  std::size_t bullets = 0;
  for (const PageChunk& chunk : snap.chunks) {
    if (bullets >= 6) break;
    if (unicode::length(chunk.text) <= 100) continue;
    // Menus and link bars are not what the page says.
    if (chunk.chrome > 0.5) continue;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= chunk.text.size()) {
      std::size_t end = chunk.text.find('\n', start);
      if (end == std::string::npos) end = chunk.text.size();
      if (end > start) lines.push_back(chunk.text.substr(start, end - start));
      start = end + 1;
    }
    if (!chunk.heading.empty() && !lines.empty()) lines.erase(lines.begin());
    std::optional<std::string> sentence;
    for (const std::string& s : TextUtil::sentences(join(lines, " "))) {
      if (unicode::length(s) > 30) {
        sentence = s;
        break;
      }
    }
    if (!sentence) continue;
    std::string bullet = "• ";
    if (!chunk.heading.empty()) bullet += chunk.heading + " — ";
    parts.push_back(bullet + unicode::truncate(*sentence, 240));
    ++bullets;
  }
  if (bullets == 0) {
    std::string whole = unicode::truncate(snap.text(), 500);
    if (!whole.empty()) parts.push_back(whole);
  }
  return join(parts, "\n");
}

}  // namespace PageQA

PageQAExcerpts::PageQAExcerpts(const PageSnapshot& snap, std::string_view question)
    : chunks(PageQA::excerpts(snap, question, PageQA::kQuestionBudget)) {
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (i > 0) text += "\n---\n";
    text += chunks[i].text;
  }
}

}  // namespace tovrin
