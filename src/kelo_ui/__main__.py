"""Demo: build a few of the toolkit's native objects and show them."""

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klshader.klshader import KlShader
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.color import Color


def main():
    size = KlVector2(800, 600)
    print("size:  ", size)
    print("rect:  ", KlRect(0, 0, size.x, size.y))
    print("shader:", KlShader(3))
    print("white: ", Color.White)


if __name__ == "__main__":
    main()
