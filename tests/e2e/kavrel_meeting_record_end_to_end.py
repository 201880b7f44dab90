#!/usr/bin/python3
"""What the history server keeps of a meeting is what the meeting was, whatever the user chooses
after it, on the real kavrel against the fake backend. Runs like kavrel_end_to_end.py (whose
helpers it uses, with those of kavrel_quit_end_to_end.py) inside scripts/with-test-services.

KAVREL_E2E_RECORD_PART names the part to run:
- "translation-language": a meeting listened to with live translation into English until every
  turn shows translated, stopped, then continued ("Продолжить") with German picked in the start
  sheet until the turns show again in German, and stopped. The server holds one record whose
  translation blocks are each under the language they were made in (English, then German), and
  whose translation language is the English it was recorded with.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kavrel_end_to_end as e2e  # noqa: E402  (skips by itself without pyatspi)
import kavrel_quit_end_to_end as quit_e2e  # noqa: E402

Failure = e2e.Failure
LISTENING_LANGUAGE = "Язык прослушивания"
GERMAN = "Немецкий"


class RecordRun(quit_e2e.QuitRun):
    screenshot_prefix = "record-"

    def run(self):
        part = os.environ.get("KAVREL_E2E_RECORD_PART", "translation-language")
        if part != "translation-language":
            raise Failure("unknown KAVREL_E2E_RECORD_PART %r" % part)
        self.forget_saved_sign_in()
        # The rewrite of closed turns would replace the relay's translations by those of its own
        # block translation, whose text cannot tell which language it was asked for.
        self.start_backend(["--no-chat"])
        self.sign_in_first()
        self.run_translation_language()

    def open_start_sheet(self):
        self.press(self.find(role="push button", contains="Начать", what="start button"))
        time.sleep(1)

    def start_from_sheet(self, answers, title):
        starts = [node for name, node in self.find_all("push button") if name.startswith("Начать")]
        self.press(starts[-1])
        self.answer_start_questions(answers, 8)
        self.screenshot(title)

    def pick_translation_language(self, steps_down, wanted):
        """The start sheet's target picker (the language picker that is not the listening
        language's), moved down by `steps_down` entries as a person does with the keyboard."""
        pickers = [node for name, node in self.find_all("combo box") if name != LISTENING_LANGUAGE]
        if not pickers:
            self.dump_tree("missing-target-picker")
            raise Failure("the start sheet shows no translation language picker")
        self.click(pickers[-1])
        time.sleep(0.8)
        subprocess.run(["xdotool", "key", "--delay", "150"] + ["Down"] * steps_down + ["Return"], check=True)
        time.sleep(0.8)
        self.screenshot("translation-language-picked")
        if not self.count_containing(wanted):
            self.dump_tree("translation-language-not-picked")
            raise Failure("the start sheet does not show %s as the translation language" % wanted)

    def wait_for_translations(self, prefix, title):
        """Every scripted turn, translated by the relay ("en: …", "de: …"), is on screen."""
        deadline = time.time() + 40
        wanted = [prefix + turn for turn in quit_e2e.TURNS]
        while time.time() < deadline and not all(self.count_containing(text) for text in wanted):
            time.sleep(0.5)
        missing = [text for text in wanted if not self.count_containing(text)]
        if missing:
            self.dump_tree("missing-translations-" + title)
            raise Failure("translations not shown: %s" % missing)
        self.screenshot(title)

    def stop(self, title):
        self.press(self.find(role="push button", contains="Остановить", what="stop button"))
        self.find(role="push button", contains="Начать", timeout=20, what="start button after stop")
        self.screenshot(title)

    def run_translation_language(self):
        # Translated into English, which the sheet offers first for a Russian listening language.
        self.open_start_sheet()
        self.screenshot("english-setup")
        self.start_from_sheet(("Начать новую", "Продолжить без микрофона"), "english-listening")
        self.wait_for_translations("en: ", "english-translations")
        self.stop("english-stopped")

        # The same meeting continued in German.
        self.open_start_sheet()
        self.pick_translation_language(1, GERMAN)
        self.start_from_sheet(("Продолжить", "Продолжить без микрофона"), "german-listening")
        self.wait_for_translations("de: ", "german-translations")
        self.stop("german-stopped")

        deadline = time.time() + 30
        while time.time() < deadline:
            meetings = self.state()["meetings"]
            languages = [block.get("language") for m in meetings for block in m.get("translationJson", [])]
            if len(meetings) == 1 and meetings[0].get("status") == "completed" and len(languages) >= 6:
                break
            time.sleep(0.5)
        if len(meetings) != 1:
            raise Failure("%d records for one meeting: %s" % (len(meetings), [m.get("id") for m in meetings]))
        record = meetings[0]
        blocks = [(block.get("language"), block.get("text", "")) for block in record.get("translationJson", [])]
        mislabelled = [(language, text) for language, text in blocks
                       if (language, text[:3]) not in (("english", "en:"), ("german", "de:"))]
        if len(blocks) != 2 * len(quit_e2e.TURNS) or mislabelled:
            raise Failure("translation blocks not each under its own language: %s" % blocks)
        if record.get("translationLanguage") != "english" or record.get("translationEnabled") is not True:
            raise Failure("the meeting's translation is recorded as %r (enabled %r), not the English it began with"
                          % (record.get("translationLanguage"), record.get("translationEnabled")))
        print("  one record: %d translation blocks, each under its own language; the meeting's is english"
              % len(blocks), flush=True)
        self.quit("quit")


if __name__ == "__main__":
    sys.exit(e2e.main(RecordRun))
