"""The sample course's lessons: what each page says and where it leads."""
COURSE = "Quillby sample course"

# Each lesson's address, then its title, paragraphs and links.
LESSONS = {
    "/": ("Your first lesson",
          ["This page comes from the course server that Quillby setup installed on this computer. "
           "Nothing here needs the internet any more."],
          [("Next lesson", "lesson-2.html")]),
    "/lesson-2.html": ("Lesson 2",
                       ["A second page, laid out by a package the course brought with it."],
                       [("Back", "/")]),
}
