// placeholder: the search dialog
