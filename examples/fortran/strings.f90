! Fortran character arguments, blank-padded and unterminated, turned into C strings.
program vr_strings
  use, intrinsic :: iso_c_binding
  implicit none

  interface
    subroutine string_convert(dest, fstr, len) bind(C, name="omi_fortranStringConvert")
      import :: c_char, c_int
      character(kind=c_char), intent(out) :: dest(*)
      character(kind=c_char), intent(in) :: fstr(*)
      integer(c_int), value :: len
    end subroutine
    subroutine file_name_convert(dest, dest_size, fstr, len) &
        bind(C, name="omi_fortranFileNameConvert")
      import :: c_char, c_int
      character(kind=c_char), intent(out) :: dest(*)
      integer(c_int), value :: dest_size
      character(kind=c_char), intent(in) :: fstr(*)
      integer(c_int), value :: len
    end subroutine
    function list_convert(count, fstrs, len) bind(C, name="omi_fortranStringListConvert")
      import :: c_char, c_int, c_ptr
      integer(c_int), value :: count
      character(kind=c_char), intent(in) :: fstrs(*)
      integer(c_int), value :: len
      type(c_ptr) :: list_convert
    end function
    subroutine list_free(count, list) bind(C, name="omi_fortranStringListFree")
      import :: c_int, c_ptr
      integer(c_int), value :: count
      type(c_ptr), value :: list
    end subroutine
    function c_strlen(s) bind(C, name="strlen")
      import :: c_ptr, c_size_t
      type(c_ptr), value :: s
      integer(c_size_t) :: c_strlen
    end function
  end interface

  character(len=20) :: name
  character(len=8) :: words(3)
  character(kind=c_char), target :: dest(80)
  type(c_ptr) :: list
  type(c_ptr), pointer :: elements(:)
  character(kind=c_char), pointer :: element(:)
  integer :: i, n

  name = 'model.dat'  ! blank-padded to 20 characters
  call string_convert(dest, name, len(name, kind=c_int))
  n = int(c_strlen(c_loc(dest)))
  print '(a,i0,a,80a1)', 'converted ', n, ' [', dest(1:n), ']'

  call file_name_convert(dest, 6_c_int, name, len(name, kind=c_int))
  n = int(c_strlen(c_loc(dest)))
  print '(a,i0,a,80a1)', 'cut ', n, ' [', dest(1:n), ']'

  name = ' '
  call string_convert(dest, name, len(name, kind=c_int))
  print '(a,i0)', 'blank ', c_strlen(c_loc(dest))

  words = [character(len=8) :: 'ONE', 'TWO', 'THREE']
  list = list_convert(3_c_int, words, len(words, kind=c_int))
  call c_f_pointer(list, elements, [3])
  do i = 1, 3
    n = int(c_strlen(elements(i)))
    call c_f_pointer(elements(i), element, [n])
    print '(a,i0,a,80a1)', 'word ', n, ' [', element, ']'
  end do
  call list_free(3_c_int, list)
end program
