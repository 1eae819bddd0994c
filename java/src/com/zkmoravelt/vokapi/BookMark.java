package com.zkmoravelt.vokapi;

/** A saved cursor position of a recording ({@link VOK#setBookmark()}). */
public class BookMark {
    /** The item position the bookmark stands for. */
    int bookmarkID;

    /** A bookmark for the item position id. */
    public BookMark(int id) {
        this.bookmarkID = id;
    }

    /** The item position the bookmark stands for. */
    public int getId() {
        return bookmarkID;
    }

    @Override
    public boolean equals(Object o) {
        return o instanceof BookMark && ((BookMark) o).bookmarkID == bookmarkID;
    }

    @Override
    public int hashCode() {
        return Integer.hashCode(bookmarkID);
    }

    @Override
    public String toString() {
        return "BookMark[" + bookmarkID + "]";
    }
}
