"""Ravelo for Python: converts data-logger recordings (.Q38) into CSV files
through the Ravelo library, and reads those CSV files as one table.

- convert(logger, dest, ...): one conversion, as `ravelo convert` does it;
  returns ConversionResult(logger, rows, created, merged)
- iter_rows(*sources): the rows of CSV files or folders of them, as
  `ravelo export` reads them: Row(time, values)
- to_pandas(*sources): the same rows as a pandas DataFrame indexed by time

The library is loaded from RAVELO_LIBRARY, else from beside the package,
else from the build folder of the source tree this package lies in.
"""
from ._library import (ConversionError, ConversionResult, LoggerFileError, convert, library_path,
                       message)
from ._table import Row, SourceError, iter_rows, source_files, to_pandas

__all__ = ["ConversionError", "ConversionResult", "LoggerFileError", "Row", "SourceError",
           "convert", "iter_rows", "library_path", "message", "source_files", "to_pandas"]
__version__ = "0.1.0"
