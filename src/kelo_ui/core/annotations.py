"""Type aliases for annotating code that draws with the toolkit."""

from typing import Any, Optional, Tuple, Union


class Annotations:
    """The shapes of values that the drawing operations take."""

    Number = Union[int, float]
    Vector2Like = Tuple[Number, Number]
    ColorLike = Optional[Tuple[int, int, int, int]]
    Position = Tuple[Number, Number]
    Rectangle = Tuple[Number, Number, Number, Number]
    Dest = Union[Position, Rectangle]
    Texture = Any
