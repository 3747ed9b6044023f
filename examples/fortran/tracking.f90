! A tracked Fortran run: blocks from the library's heap, taken in named phases, and
! phase names converted to C strings. Run it with KOV_MEM_TRACK set (any value): the
! tracker prints the phase lines on standard error and, when the library stops, writes
! unknownMemTrack.memT0 and unknownMemTrack.phaseStack (into KOV_MEM_OUTPUTDIR when
! that is set) for memtrack to read.
program vr_tracking
  use, intrinsic :: iso_c_binding
  implicit none
  include 'varururor/varururor.fi'

  interface
    function c_strlen(s) bind(C, name="strlen")
      import :: c_ptr, c_size_t
      type(c_ptr), value :: s
      integer(c_size_t) :: c_strlen
    end function
  end interface

  integer(c_int), parameter :: print_phase = 1, quiet = 0
  integer(c_int), parameter :: block_count = 3, block_bytes = 4000
  character(len=16) :: phases(2)
  type(c_ptr) :: blocks(block_count), list
  type(c_ptr), pointer :: names(:)
  character(kind=c_char), pointer :: name(:)
  real(c_double), pointer :: values(:)
  integer(c_int) :: started
  integer :: i, n

  started = 0
  call UTI_VaruRuror_initialize(started)
  print '(a,i0,a)', 'started ', started, ' modules'

  phases = [character(len=16) :: 'assemble', 'solve']
  call MEM_TRACKER_ENTERPHASE(print_phase, phases(1), len_trim(phases(1), kind=c_int))
  do i = 1, block_count
    blocks(i) = mem_Malloc(block_bytes)
    call c_f_pointer(blocks(i), values, [block_bytes / 8])
    values = real(i, c_double)
  end do
  print '(a,i0,a,i0,a)', 'assembled ', block_count, ' blocks of ', block_bytes, ' bytes'

  call MEM_TRACKER_ENTERPHASE(quiet, phases(2), len_trim(phases(2), kind=c_int))
  list = omi_fortranStringListConvert(2_c_int, phases, len(phases, kind=c_int))
  call c_f_pointer(list, names, [2])
  do i = 1, 2
    n = int(c_strlen(names(i)))
    call c_f_pointer(names(i), name, [n])
    print '(a,i0,a,16a1,a)', 'phase ', i, ' [', name, ']'
  end do
  call omi_fortranStringListFree(2_c_int, list)
  call MEM_TRACKER_EXITPHASE(quiet)

  do i = 1, block_count
    call mem_Free(blocks(i))
  end do
  call MEM_TRACKER_EXITPHASE(print_phase)

  call UTI_VaruRuror_finalize(started)
  print '(a,i0)', 'stopped ', started
end program
