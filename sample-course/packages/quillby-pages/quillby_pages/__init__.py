"""Lays out the pages of a Quillby course: one lesson as a whole HTML page."""
import html


def page(course, title, paragraphs, links):
    """The page of one lesson: its paragraphs, then its links as (text, address)."""
    body = "".join(f"<p>{html.escape(text)}</p>\n" for text in paragraphs)
    body += "".join(f'<p><a href="{html.escape(address)}">{html.escape(text)}</a></p>\n' for text, address in links)
    return (f'<!doctype html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
            f"<title>{html.escape(course)}: {html.escape(title)}</title>\n"
            f'<link rel="stylesheet" href="style.css">\n</head>\n<body>\n<h1>{html.escape(title)}</h1>\n'
            f"{body}</body>\n</html>\n")
