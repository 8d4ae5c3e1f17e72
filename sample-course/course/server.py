"""The sample course's server: serves its lessons at http://127.0.0.1:8793/,
the way a course runs on the learner's computer once Quillby setup has
installed it. The lessons are a module of the course's own, beside this
script; their pages are laid out by a package that the course ships."""
import http.server
import os

import lessons
import quillby_pages

ADDRESS = ("127.0.0.1", 8793)
STYLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "style.css")


class LessonHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/style.css":
            with open(STYLE, "rb") as style:
                self.answer(style.read(), "text/css")
        elif self.path in lessons.LESSONS:
            page = quillby_pages.page(lessons.COURSE, *lessons.LESSONS[self.path])
            self.answer(page.encode("utf-8"), "text/html; charset=utf-8")
        else:
            self.send_error(404)

    def answer(self, body, content_type):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    with http.server.ThreadingHTTPServer(ADDRESS, LessonHandler) as server:
        print(f"Serving the course at http://{ADDRESS[0]}:{ADDRESS[1]}/", flush=True)
        server.serve_forever()


if __name__ == "__main__":
    main()
